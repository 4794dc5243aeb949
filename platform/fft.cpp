// FFTW plans once per length (planning is not thread-safe) and executes with new-array calls
// anywhere.
#include "platform/fft.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {
struct Plan {
    double* in;
    fftw_complex* out;
    fftw_plan plan;
    explicit Plan(int n) {
        in = fftw_alloc_real(static_cast<std::size_t>(n));
        out = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
        plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    }
    ~Plan() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};
// Both plans made together on first use, so the acquisition path never plans.
const std::array<std::unique_ptr<Plan>, 2>& plans() {
    static const std::array<std::unique_ptr<Plan>, 2> p = {std::make_unique<Plan>(kFftSize),
                                                           std::make_unique<Plan>(kFftSizeLong)};
    return p;
}

// Scratch of one call, aligned for FFTW's new-array execution.
struct Scratch {
    alignas(64) double in[kFftSizeLong];
    alignas(64) fftw_complex out[kFftSizeLong / 2 + 1];
};
} // namespace

const double* fftReal(const double* input, int n) {
    if (n != kFftSize && n != kFftSizeLong) return nullptr;
    const Plan& p = *plans()[n == kFftSize ? 0 : 1];
    // Each thread its own scratch, so concurrent calls never share buffers; 128 KiB is too much
    // for a stack.
    thread_local Scratch s;
    // A real-to-complex plan leaves its input alone: an input aligned like the plan's is
    // transformed where it lies.
    double* in = const_cast<double*>(input);
    if (fftw_alignment_of(in) != fftw_alignment_of(p.in)) {
        std::copy(input, input + n, s.in);
        in = s.in;
    }
    fftw_execute_dft_r2c(p.plan, in, s.out);
    return &s.out[0][0];
}

namespace {
struct InversePlan {
    fftw_complex* in;
    double* out;
    fftw_plan plan;
    explicit InversePlan(int n) {
        in = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
        out = fftw_alloc_real(static_cast<std::size_t>(n));
        plan = fftw_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE);
    }
    ~InversePlan() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
    InversePlan(const InversePlan&) = delete;
    InversePlan& operator=(const InversePlan&) = delete;
};
} // namespace

bool inverseFftReal(const double* bins, int n, double* output) {
    if (n < 2 || n % 2 != 0 || n > (1 << 22)) return false;
    static std::mutex lock;
    static std::map<int, std::unique_ptr<InversePlan>> plans;
    // One caller at a time is enough: this is no acquisition path.
    std::lock_guard<std::mutex> hold(lock);
    std::unique_ptr<InversePlan>& p = plans[n];
    if (!p) p = std::make_unique<InversePlan>(n);
    // A complex-to-real plan overwrites its input: the bins are copied in each time.
    std::copy(bins, bins + n + 2, &p->in[0][0]);
    fftw_execute(p->plan);
    std::copy(p->out, p->out + n, output);
    return true;
}

namespace {
struct ForwardPlan {
    double* in;
    fftw_complex* out;
    fftw_plan plan;
    explicit ForwardPlan(int n) {
        in = fftw_alloc_real(static_cast<std::size_t>(n));
        out = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
        plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    }
    ~ForwardPlan() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
    ForwardPlan(const ForwardPlan&) = delete;
    ForwardPlan& operator=(const ForwardPlan&) = delete;
};
} // namespace

bool forwardFftReal(const double* input, int n, double* bins) {
    if (n < 2 || n % 2 != 0 || n > (1 << 22)) return false;
    static std::mutex lock;
    static std::map<int, std::unique_ptr<ForwardPlan>> plans;
    std::lock_guard<std::mutex> hold(lock);
    std::unique_ptr<ForwardPlan>& p = plans[n];
    if (!p) p = std::make_unique<ForwardPlan>(n);
    std::copy(input, input + n, p->in);
    fftw_execute(p->plan);
    std::copy(&p->out[0][0], &p->out[0][0] + n + 2, bins);
    return true;
}

} // namespace platform
