# VELT: the two commands a new user needs are `make run` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc)
RUNDIR  ?= run
PACKAGES = build-essential cmake pkg-config qt6-base-dev libqcustomplot-dev libfftw3-dev \
           libftdi1-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool \
           imagemagick fonts-dejavu-core clang-format locales clang libclang-rt-14-dev \
           libcli11-dev nlohmann-json3-dev python3-pyvisa python3-pyvisa-py lintian \
           desktop-file-utils libsqlite3-dev libpq-dev postgresql
SUDO    := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build run run-batch test test-tsan test-asan fuzz bench screenshot clean format install-udev \
        install package check-package

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(BUILD)/Makefile: CMakeLists.txt
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

run: build
	mkdir -p $(RUNDIR)
	cd $(RUNDIR) && ../$(BUILD)/velt --simulate $(ARGS)

# The example recipe against the simulator: zone verdicts, then the report under run/results.
run-batch: build
	mkdir -p $(RUNDIR)
	cd $(RUNDIR) && ../$(BUILD)/velt measure ../docs/examples/cable-50ohm.json --simulate $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The concurrency suites under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELT_SANITIZE=thread -DVELT_GUI=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L concurrency --timeout 600

# The whole suite under AddressSanitizer and UBSan.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELT_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS) --timeout 600

# Every reader under libFuzzer with AddressSanitizer and UBSan, from the committed seeds in
# tests/fuzz/corpus/<target>, for FUZZ_SECONDS in all. A new target is one more
# tests/fuzz/fuzz_<name>.cpp with its seed folder.
FUZZ_TARGETS = $(sort $(basename $(notdir $(wildcard tests/fuzz/fuzz_*.cpp))))
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVELT_GUI=OFF -DVELT_FUZZ=ON -DVELT_SANITIZE=address,undefined,fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@each=$$(( $(FUZZ_SECONDS) / $(words $(FUZZ_TARGETS)) )); [ $$each -ge 1 ] || each=1; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build-fuzz/tests/$$t -max_total_time=$$each -close_fd_mask=2 \
	    -print_final_stats=1 build-fuzz/corpus/$$t tests/fuzz/corpus/$$t 2>build-fuzz/$$t.log \
	    || { tail -n 60 build-fuzz/$$t.log; exit 1; }; \
	  echo "$$t: $$(grep -o 'stat::number_of_executed_units: *[0-9]*' build-fuzz/$$t.log | grep -o '[0-9]*$$') executions in $$each s, no crash"; \
	done

bench: build
	$(BUILD)/tests/velt_bench --benchmark_min_time=0.2
	# Remote control against `velt serve` on the paced simulator, in a folder of its own.
	@dir=$$(mktemp -d) && port=$$((20000 + $$$$ % 20000)) && \
	  (cd $$dir && QT_QPA_PLATFORM=offscreen $(CURDIR)/$(BUILD)/velt serve --simulate \
	    --listen 127.0.0.1:$$port 2>$$dir/log >/dev/null &) && \
	  for i in $$(seq 120); do grep -q listening $$dir/log && break; sleep 0.5; done; \
	  /usr/bin/python3 tests/bench/remote_bench.py $$port; status=$$?; rm -rf $$dir; exit $$status

# Each picture from a data folder of its own: a user.ini left by an earlier run (in the frequency
# domain, say) must not show in it.
SHOT = rm -rf $(RUNDIR)/shot && mkdir -p $(RUNDIR)/shot && cd $(RUNDIR)/shot && \
       xvfb-run -a -s "-screen 0 1280x800x24" $(CURDIR)/$(BUILD)/velt --simulate --screenshot-after 4
screenshot: build
	mkdir -p docs
	$(SHOT) --screenshot $(CURDIR)/docs/screenshot.png
	# S11 of port 2 CH 1 (a lossy cable, open) to 7.2 GHz after a SOLT calibration the simulator
	# answers, on a 35 ps model (four interleaved sweep sets a record) averaging 16 sweeps.
	$(SHOT) --model QSA004 --auto-solt --frequency-domain 7 --averaging 16 --screenshot $(CURDIR)/docs/screenshot-s11.png
	$(SHOT) --light --screenshot $(CURDIR)/docs/screenshot-light.png
	# The operator station after a scanner typed C-0001 and Enter (xdotool stands in for it).
	rm -rf $(RUNDIR)/shot && mkdir -p $(RUNDIR)/shot && cd $(RUNDIR)/shot && \
	  xvfb-run -a -s "-screen 0 1280x900x24" sh -c '$(CURDIR)/$(BUILD)/velt --simulate \
	    --station $(CURDIR)/docs/examples/cable-50ohm.json --lot 4711 --operator ann \
	    --results none --screenshot-after 40 --screenshot $(CURDIR)/docs/screenshot-station.png & \
	  sleep 30; xdotool windowfocus --sync $$(xdotool search --name VELT | head -1); \
	  xdotool type --delay 20 C-0001; xdotool key Return; wait'

# The program, its manual, desktop entry, icon, udev rule and documentation under
# CMAKE_INSTALL_PREFIX (/usr/local unless configured otherwise), below $(DESTDIR) when set.
install: build
	cmake --install $(BUILD)

# A Debian package (build/velt_<version>_amd64.deb), checked by lintian.
package: build
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/velt_*_amd64.deb

# The package installed into a fresh Debian 12 root (debootstrap) and run there; not part of
# `make test`: it needs root and the Debian mirror.
check-package: package
	@command -v debootstrap >/dev/null || { $(SUDO) apt-get install -y -qq debootstrap; }
	$(SUDO) packaging/check-package.sh $(BUILD)

# Lets the logged-in user open FTDI bridges (vendor 0403) without root.
UDEV_RULE ?= /etc/udev/rules.d/70-velt.rules
install-udev:
	$(SUDO) install -m 644 packaging/70-velt.rules $(UDEV_RULE)
	@if command -v udevadm >/dev/null; then $(SUDO) udevadm control --reload-rules && $(SUDO) udevadm trigger; \
	else echo "udevadm not found: the rule takes effect after a reboot"; fi
	@echo "installed $(UDEV_RULE); plug the instrument in again"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-tsan build-asan build-fuzz
