# VELT: the two commands a new user needs are `make run` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc)
RUNDIR  ?= run
PACKAGES = build-essential cmake pkg-config qt6-base-dev libqcustomplot-dev libfftw3-dev \
           libftdi1-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool \
           imagemagick fonts-dejavu-core clang-format locales libcli11-dev \
           nlohmann-json3-dev
SUDO    := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build run test test-tsan test-asan bench screenshot clean format install-udev

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

bench: build
	$(BUILD)/tests/velt_bench --benchmark_min_time=0.2

screenshot: build
	mkdir -p $(RUNDIR) docs
	cd $(RUNDIR) && xvfb-run -a -s "-screen 0 1280x800x24" ../$(BUILD)/velt --simulate --screenshot ../docs/screenshot.png --screenshot-after 4

# Lets every user read and write FTDI bridges (vendor 0403) without root.
UDEV_RULE ?= /etc/udev/rules.d/99-velt-ftdi.rules
install-udev:
	echo 'SUBSYSTEM=="usb", ATTRS{idVendor}=="0403", MODE="0666"' | $(SUDO) tee $(UDEV_RULE) >/dev/null
	@if command -v udevadm >/dev/null; then $(SUDO) udevadm control --reload-rules && $(SUDO) udevadm trigger; \
	else echo "udevadm not found: the rule takes effect after a reboot"; fi
	@echo "installed $(UDEV_RULE); plug the instrument in again"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-tsan build-asan
