// GenTL 1.6 composite buffers and flows: the producers deliver plain
// images, so these answer "not implemented" (the consumer then uses the
// single-image calls).
#include "errors.hpp"
#include "gentl_api.hpp"

using namespace gentl;
using vantix::gentl_core::fail;

namespace {

GC_ERROR not_implemented(const char *function) {
    return fail(GC_ERR_NOT_IMPLEMENTED, "%s: %s delivers plain images, without flows or segments",
                function, vantix::gentl_core::producer_noun());
}

}  // namespace

GENTL_EXPORT GC_ERROR DSAnnounceCompositeBuffer(DS_HANDLE, std::size_t, void **, std::size_t *,
                                                void *, BUFFER_HANDLE *) {
    return not_implemented("DSAnnounceCompositeBuffer");
}

GENTL_EXPORT GC_ERROR DSGetNumFlows(DS_HANDLE, std::uint32_t *) {
    return not_implemented("DSGetNumFlows");
}

GENTL_EXPORT GC_ERROR DSGetFlowInfo(DS_HANDLE, std::uint32_t, std::int32_t, INFO_DATATYPE *, void *,
                                    std::size_t *) {
    return not_implemented("DSGetFlowInfo");
}

GENTL_EXPORT GC_ERROR DSGetNumBufferSegments(DS_HANDLE, BUFFER_HANDLE, std::uint32_t *) {
    return not_implemented("DSGetNumBufferSegments");
}

GENTL_EXPORT GC_ERROR DSGetBufferSegmentInfo(DS_HANDLE, BUFFER_HANDLE, std::uint32_t, std::int32_t,
                                             INFO_DATATYPE *, void *, std::size_t *) {
    return not_implemented("DSGetBufferSegmentInfo");
}
