// FFTW plans once (planning is not thread-safe) and executes with new-array calls anywhere.
#include "platform/fft.h"

#include <fftw3.h>
#include <mutex>

namespace platform {
namespace {
struct Plan {
    double* in;
    fftw_complex* out;
    fftw_plan plan;
    Plan() {
        in = fftw_alloc_real(kFftSize);
        out = fftw_alloc_complex(kFftSize / 2 + 1);
        plan = fftw_plan_dft_r2c_1d(kFftSize, in, out, FFTW_ESTIMATE);
    }
    ~Plan() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
};
Plan& plan() {
    static Plan p; // C++ guarantees a thread-safe first construction
    return p;
}
} // namespace

void fft2048(const double* input, double* re, double* im) {
    Plan& p = plan();
    // Aligned scratch on the stack of this call, so concurrent calls never share buffers.
    alignas(64) double in[kFftSize];
    alignas(64) fftw_complex out[kFftSize / 2 + 1];
    for (int i = 0; i < kFftSize; ++i) in[i] = input[i];
    fftw_execute_dft_r2c(p.plan, in, out);
    for (int k = 0; k <= kFftSize / 2; ++k) {
        re[k] = out[k][0];
        im[k] = out[k][1];
    }
    for (int k = kFftSize / 2 + 1; k < kFftSize; ++k) { // conjugate half
        re[k] = out[kFftSize - k][0];
        im[k] = -out[kFftSize - k][1];
    }
}

} // namespace platform
