// The median of prepared windows: the sorting networks behind the hook, the rank route when they
// decline; and the band job that runs it.
#include "frame/cleanup.hpp"
#include "median/variants.hpp"
#include "platform/assert.hpp"

using kip::failed;
using namespace kip::median;

namespace kip::median {

template <class V>
kip_status medianStep(const kimg_windowConst* source, const kimg_windowConst* mask,
                      const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                      const kimg_window* destination) {
    kip_status s = kip_errNotAvailable;
    if (!optimizationInhibited(V::kLabel.text)) s = V::network(source, mask, params, kernel, destination);
    if (kip_status_isNotAvailable(s)) s = V::byRank(source, mask, params, kernel, destination);
    return s;
}
template kip_status medianStep<Variant8>(const kimg_windowConst*, const kimg_windowConst*,
                                         const kip_filterMedianParams*, const kip_filterMaskKernel*,
                                         const kimg_window*);
template kip_status medianStep<Variant16>(const kimg_windowConst*, const kimg_windowConst*,
                                          const kip_filterMedianParams*, const kip_filterMaskKernel*,
                                          const kimg_window*);

}  // namespace kip::median

namespace {

template <class V>
kip_status byRank(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_filterMedianParams* params,
                  const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    kip_filterRankParams rank;
    kip_status s = kip_filterRankParams_init(&rank);
    if (failed(s)) return s;
    rank.percentile = 0.5;
    rank.borderMode = params->borderMode;
    return V::rank(source, mask, &rank, kernel, destination);
}

template <class V>
kip_status job(const ksys_jobParams* params, uint32_t) {
    KIP_REQUIRE(params);
    const void* data = nullptr;
    kip_status s = ksys_jobParams_getDataConst(params, &data);
    if (failed(s)) return s;
    KIP_REQUIRE(data);
    const BandJob& band = *static_cast<const BandJob*>(data);
    return medianStep<V>(&band.source, band.maskUsed ? &band.mask : nullptr, &band.params, &band.kernel,
                         &band.destination);
}

}  // namespace

extern "C" {

kip_status kip_filterMedianByRank8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                    const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                    const kimg_window* destination) {
    return byRank<Variant8>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedianByRank16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                     const kimg_window* destination) {
    return byRank<Variant16>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedianJob8_(const ksys_jobParams* params, uint32_t threadIndex) {
    return job<Variant8>(params, threadIndex);
}

kip_status kip_filterMedianJob16_(const ksys_jobParams* params, uint32_t threadIndex) {
    return job<Variant16>(params, threadIndex);
}

}  // extern "C"
