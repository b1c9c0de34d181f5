// kip._kip: the extension behind the `kip` package. The public functions live in Python
// (kip/_filters.py), which checks arguments and shapes arrays before calling in here.
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "arrays.hpp"
#include "filters.hpp"
#include "kip/version.h"

namespace py = pybind11;

namespace {

PyObject* errorType = nullptr;

const char* statusName(kip_status status) {
    const char* name = nullptr;
    kip_status_getName(status, &name);
    return name;
}

int32_t inhibitAll(const uint16_t*) { return 1; }

// A hook that holds the first filter call reaching it until the test lets go (10 s at most), so
// that a test can see whether Python code runs meanwhile. 0 idle, 1 holding, 2 let go, 3 gave up.
std::atomic<int> holdState{0};
int32_t holdingHook(const uint16_t*) {
    int idle = 0;
    if (holdState.compare_exchange_strong(idle, 1)) {
        for (int i = 0; i < 10000 && holdState.load() == 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int holding = 1;
        holdState.compare_exchange_strong(holding, 3);
    }
    return 0;
}

}  // namespace

PYBIND11_MODULE(_kip, m) {
    m.doc() = "Extension module of the kip package; use the functions of `kip` itself.";

    errorType = PyErr_NewExceptionWithDoc(
        "kip.Error",
        "A kip call failed. `code` is the status code (a negative int32, e.g. -2147479904 for\n"
        "0x80000ea0) and `name` its name, e.g. 'kip_errRankOutOfRange'.",
        PyExc_RuntimeError, nullptr);
    if (errorType == nullptr) throw py::error_already_set();
    m.add_object("Error", py::handle(errorType));

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const kippy::Failure& failure) {
            const uint32_t bits = static_cast<uint32_t>(failure.status);
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", bits);
            py::object error = py::reinterpret_borrow<py::object>(errorType)(std::string(statusName(failure.status)) +
                                                                             " (" + hex + ")");
            error.attr("code") = failure.status;
            error.attr("name") = statusName(failure.status);
            PyErr_SetObject(errorType, error.ptr());
        }
    });

    // kip.__version__: the library's version as kip_getVersion reports it.
    uint32_t major = 0, minor = 0, patch = 0;
    kip_getVersion(&major, &minor, &patch);
    m.attr("__version__") = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);

    m.def("status_name", &statusName, py::arg("code"), "Name of a kip status code, as kip_status_getName gives it.");
    m.def(
        "set_threads", [](uint32_t count) { ksys_jobSetThreadCount(count); }, py::arg("count"),
        "Threads the median filters (and local median subtraction) may use; 0: one per hardware thread.");
    // Test aids: route every call to the general engines, and make allocations fail.
    m.def("_set_optimizations", [](bool on) { kprt_isOptimizationInhibitedFP = on ? nullptr : inhibitAll; });
    m.def("_set_fail_after", [](int64_t successes) { ksys_memory_setFailAfter(successes); });
    m.def("_live_blocks", [] { return ksys_memory_getLiveBlocks(); });
    m.def("_hold_next_call", [] {
        holdState = 0;
        kprt_isOptimizationInhibitedFP = holdingHook;
    });
    m.def("_held", [] { return holdState.load() == 1; });
    m.def("_let_go", [] {
        holdState = 2;
        kprt_isOptimizationInhibitedFP = nullptr;
    });

    kippy::addFilters(m);
}
