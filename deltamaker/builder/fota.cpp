// fota_make_package: one build from the request to the package in place. The steps live in
// their own files (see build_p.h); this one runs them in order.
#include "deltamaker/builder/fota.h"

#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/parallel/task_pool_p.h"

#include <atomic>
#include <exception>
#include <new>

namespace detail = deltamaker::detail;

static_assert(kFotaMaxThreads == detail::kMaxBuildThreads, "one thread limit for every caller");

namespace {

using detail::Input;

std::atomic<bool> g_boardReported{false};

int dispatch(int type, detail::Build &b)
{
    if (type == kBoardZN3150)
        return b.request.method == 1 ? detail::build_z1(b) : detail::build_z3(b);
    switch (b.request.method) {
    case 2:
        return detail::build_ab(b);
    case 4:
        return detail::build_k_whole(b);
    case 3:
        return detail::build_k_inplace(b);
    default:
        return detail::build_k_blocks(b);
    }
}

// One build: every check that needs only sizes first, then each input read once, then the
// package in a private file beside the output, its size check and verification, and last the
// rename into place.
int makePackage(PackRequest request)
{
    const bool optimize = request.optimize != 0;
    // Joined when the build returns: no thread outlives it.
    detail::TaskPool pool(detail::resolve_threads(request.threads));
    if (optimize)
        detail::fota_log(FOTA_LOG_INFO, "optimising encoder: smaller streams in the same format, "
                                        "a longer build\n");
    detail::fota_progress("reading inputs", -1);
    // The window cuts paths to 255 bytes; make sure every field is terminated whatever the
    // caller did.
    request.partition_path[255] = request.boot_path[255] = request.old_path[255] = '\0';
    request.new_path[255] = request.nv1_path[255] = request.nv2_path[255] = '\0';
    using detail::has_path;
    if (!has_path(request.partition_path) || !has_path(request.new_path) ||
        !has_path(request.output_path) ||
        (request.method != 0 && request.method != 4 && !has_path(request.old_path))) {
        detail::fota_log(FOTA_LOG_ERROR, "please input firmware and patch bin\n");
        return -1;
    }
    if (!detail::output_usable(request.output_path))
        return -1;
    if (detail::output_is_an_input(request)) {
        detail::fota_log(FOTA_LOG_ERROR, "output %s is one of the input files\n",
                         request.output_path);
        return -1;
    }
    detail::BuildInputs inputs(request);
    bool unreadable = false;
    if (!inputs.open(unreadable))
        return -1;
    const int type = inputs.boardType(Input::New);
    if (inputs.given(Input::Old) && inputs.boardType(Input::Old) != type) {
        detail::fota_log(FOTA_LOG_ERROR, "image type not match\n");
        return -1;
    }
    if (unreadable)
        return -1;
    if (type != kBoardUnknown && !g_boardReported.exchange(true))
        detail::fota_log(FOTA_LOG_INFO,
                         type == kBoardKLM4410 ? "Board KLM4410\n" : "Board ZN3150\n");
    if (!detail::method_suits_board(type, request))
        return -1;
    if (inputs.loadTable(type) != 0)
        return -1;
    if (!detail::method_check(type, request, inputs))
        return -1;
    if (!detail::inputs_fit(type, request, inputs))
        return -1;
    detail::build_step("inputs checked");
    if (!inputs.readAll())
        return -1;
    detail::build_step("inputs read");

    detail::Build b(request, inputs);
    b.optimize = optimize;
    b.pool = &pool;
    b.threads = pool.threads();
    if (!b.package.allocate()) {
        detail::fota_log(FOTA_LOG_ERROR, "no memory for the build areas\n");
        return -1;
    }
    const size_t width = type == kBoardZN3150 ? kZVersionSize : kKVersionSize;
    if (!detail::read_versions(inputs.record(Input::Old), *inputs.record(Input::New), width,
                               request.method != 2, b.versions))
        return -1;

    detail::BuildOutput output;
    if (!output.begin(request))
        return -1;
    b.packagePath = output.packagePath();
    if (dispatch(type, b) != 0)
        return -1;
    detail::build_step("package written");
    // The package is written: the inputs' bytes are not needed for its verification, which
    // reads the files again.
    inputs.release();
    if (!detail::verify_written(request, output.packagePath()))
        return -1;
    detail::stop_if_cancelled();
    if (!output.commit(request.output_path))
        return -1;
    detail::fota_progress("done", 100);
    return 0;
}

} // namespace

int fota_make_package(PackRequest request)
{
    // Every way out of a build leaves no compression tables behind, and no allocation failure
    // escapes to the caller.
    struct Release {
        ~Release()
        {
            LzmaReleaseCache();
            detail::fota_progress_reset();
        }
    } release;
    // Signals remove this build's files; fota_cancel_build stops it.
    detail::BuildInterrupts interrupts;
    try {
        return makePackage(request);
    } catch (const detail::BuildCancelled &) {
        detail::fota_log(FOTA_LOG_ERROR, "build cancelled: the output is left as it was\n");
    } catch (const std::bad_alloc &) {
        detail::fota_log(FOTA_LOG_ERROR, "not enough memory to build the package\n");
    } catch (const std::exception &e) {
        detail::fota_log(FOTA_LOG_ERROR, "package build failed: %s\n", e.what());
    }
    return -1;
}
