// The functions a GenTL producer exports, each with its parameter list: the
// one list that the producer's declarations (gentl_api.hpp) and a consumer's
// check of a library are both made from. Plain facts of the interface, no
// code: a consumer may include this without the core.
//
// VANTIX_GENTL_ENTRY_POINTS(REQUIRED, OPTIONAL) expands X(name, (parameters))
// for each function, X being REQUIRED for those a consumer built on genicam
// calls (it keeps a null pointer for one a library lacks and crashes on the
// first call through it, so a library without all of them is no usable
// producer) and OPTIONAL for the others. The parameters are in the types of
// gentl.hpp, needed only where they are expanded.
#pragma once

#define VANTIX_GENTL_ENTRY_POINTS(REQUIRED, OPTIONAL)                                             \
    REQUIRED(GCGetInfo, (std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))            \
    REQUIRED(GCGetLastError, (gentl::GC_ERROR *, char *, std::size_t *))                          \
    REQUIRED(GCInitLib, ())                                                                       \
    REQUIRED(GCCloseLib, ())                                                                      \
    REQUIRED(GCReadPort, (gentl::PORT_HANDLE, std::uint64_t, void *, std::size_t *))              \
    REQUIRED(GCWritePort, (gentl::PORT_HANDLE, std::uint64_t, const void *, std::size_t *))       \
    OPTIONAL(GCGetPortURL, (gentl::PORT_HANDLE, char *, std::size_t *))                           \
    REQUIRED(GCGetPortInfo,                                                                       \
             (gentl::PORT_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))   \
    REQUIRED(GCRegisterEvent, (gentl::EVENTSRC_HANDLE, std::int32_t, gentl::EVENT_HANDLE *))      \
    OPTIONAL(GCUnregisterEvent, (gentl::EVENTSRC_HANDLE, std::int32_t))                           \
    REQUIRED(GCGetNumPortURLs, (gentl::PORT_HANDLE, std::uint32_t *))                             \
    REQUIRED(GCGetPortURLInfo, (gentl::PORT_HANDLE, std::uint32_t, std::int32_t,                  \
                                gentl::INFO_DATATYPE *, void *, std::size_t *))                   \
    OPTIONAL(GCReadPortStacked,                                                                   \
             (gentl::PORT_HANDLE, gentl::PORT_REGISTER_STACK_ENTRY *, std::size_t *))             \
    OPTIONAL(GCWritePortStacked,                                                                  \
             (gentl::PORT_HANDLE, gentl::PORT_REGISTER_STACK_ENTRY *, std::size_t *))             \
    REQUIRED(EventGetData, (gentl::EVENT_HANDLE, void *, std::size_t *, std::uint64_t))           \
    OPTIONAL(EventGetDataInfo, (gentl::EVENT_HANDLE, const void *, std::size_t, std::int32_t,     \
                                gentl::INFO_DATATYPE *, void *, std::size_t *))                   \
    REQUIRED(EventGetInfo,                                                                        \
             (gentl::EVENT_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))  \
    REQUIRED(EventFlush, (gentl::EVENT_HANDLE))                                                   \
    OPTIONAL(EventKill, (gentl::EVENT_HANDLE))                                                    \
    REQUIRED(TLOpen, (gentl::TL_HANDLE *))                                                        \
    REQUIRED(TLClose, (gentl::TL_HANDLE))                                                         \
    OPTIONAL(TLGetInfo,                                                                           \
             (gentl::TL_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))     \
    REQUIRED(TLGetNumInterfaces, (gentl::TL_HANDLE, std::uint32_t *))                             \
    REQUIRED(TLGetInterfaceID, (gentl::TL_HANDLE, std::uint32_t, char *, std::size_t *))          \
    OPTIONAL(TLGetInterfaceInfo, (gentl::TL_HANDLE, const char *, std::int32_t,                   \
                                  gentl::INFO_DATATYPE *, void *, std::size_t *))                 \
    REQUIRED(TLOpenInterface, (gentl::TL_HANDLE, const char *, gentl::IF_HANDLE *))               \
    REQUIRED(TLUpdateInterfaceList, (gentl::TL_HANDLE, gentl::bool8_t *, std::uint64_t))          \
    REQUIRED(IFClose, (gentl::IF_HANDLE))                                                         \
    REQUIRED(IFGetInfo,                                                                           \
             (gentl::IF_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))     \
    REQUIRED(IFGetNumDevices, (gentl::IF_HANDLE, std::uint32_t *))                                \
    REQUIRED(IFGetDeviceID, (gentl::IF_HANDLE, std::uint32_t, char *, std::size_t *))             \
    REQUIRED(IFUpdateDeviceList, (gentl::IF_HANDLE, gentl::bool8_t *, std::uint64_t))             \
    REQUIRED(IFGetDeviceInfo, (gentl::IF_HANDLE, const char *, std::int32_t,                      \
                               gentl::INFO_DATATYPE *, void *, std::size_t *))                    \
    REQUIRED(IFOpenDevice, (gentl::IF_HANDLE, const char *, std::int32_t, gentl::DEV_HANDLE *))   \
    OPTIONAL(IFGetParentTL, (gentl::IF_HANDLE, gentl::TL_HANDLE *))                               \
    REQUIRED(DevGetPort, (gentl::DEV_HANDLE, gentl::PORT_HANDLE *))                               \
    REQUIRED(DevGetNumDataStreams, (gentl::DEV_HANDLE, std::uint32_t *))                          \
    REQUIRED(DevGetDataStreamID, (gentl::DEV_HANDLE, std::uint32_t, char *, std::size_t *))       \
    REQUIRED(DevOpenDataStream, (gentl::DEV_HANDLE, const char *, gentl::DS_HANDLE *))            \
    REQUIRED(DevGetInfo,                                                                          \
             (gentl::DEV_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))    \
    REQUIRED(DevClose, (gentl::DEV_HANDLE))                                                       \
    OPTIONAL(DevGetParentIF, (gentl::DEV_HANDLE, gentl::IF_HANDLE *))                             \
    REQUIRED(DSAnnounceBuffer,                                                                    \
             (gentl::DS_HANDLE, void *, std::size_t, void *, gentl::BUFFER_HANDLE *))             \
    OPTIONAL(DSAllocAndAnnounceBuffer,                                                            \
             (gentl::DS_HANDLE, std::size_t, void *, gentl::BUFFER_HANDLE *))                     \
    REQUIRED(DSFlushQueue, (gentl::DS_HANDLE, std::int32_t))                                      \
    REQUIRED(DSStartAcquisition, (gentl::DS_HANDLE, std::int32_t, std::uint64_t))                 \
    REQUIRED(DSStopAcquisition, (gentl::DS_HANDLE, std::int32_t))                                 \
    REQUIRED(DSGetInfo,                                                                           \
             (gentl::DS_HANDLE, std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))     \
    OPTIONAL(DSGetBufferID, (gentl::DS_HANDLE, std::uint32_t, gentl::BUFFER_HANDLE *))            \
    REQUIRED(DSClose, (gentl::DS_HANDLE))                                                         \
    REQUIRED(DSRevokeBuffer, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, void **, void **))          \
    REQUIRED(DSQueueBuffer, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE))                             \
    REQUIRED(DSGetBufferInfo, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::int32_t,              \
                               gentl::INFO_DATATYPE *, void *, std::size_t *))                    \
    REQUIRED(DSGetBufferChunkData,                                                                \
             (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, gentl::SINGLE_CHUNK_DATA *, std::size_t *)) \
    OPTIONAL(DSGetParentDev, (gentl::DS_HANDLE, gentl::DEV_HANDLE *))                             \
    OPTIONAL(DSGetNumBufferParts, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::uint32_t *))      \
    OPTIONAL(DSGetBufferPartInfo, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::uint32_t,         \
                                   std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *))  \
    OPTIONAL(DSAnnounceCompositeBuffer, (gentl::DS_HANDLE, std::size_t, void **, std::size_t *,   \
                                         void *, gentl::BUFFER_HANDLE *))                         \
    OPTIONAL(DSGetBufferInfoStacked, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE,                     \
                                      gentl::DS_BUFFER_INFO_STACKED *, std::size_t))              \
    OPTIONAL(DSGetBufferPartInfoStacked, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE,                 \
                                          gentl::DS_BUFFER_PART_INFO_STACKED *, std::size_t))     \
    OPTIONAL(DSGetNumFlows, (gentl::DS_HANDLE, std::uint32_t *))                                  \
    OPTIONAL(DSGetFlowInfo, (gentl::DS_HANDLE, std::uint32_t, std::int32_t,                       \
                             gentl::INFO_DATATYPE *, void *, std::size_t *))                      \
    OPTIONAL(DSGetNumBufferSegments, (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::uint32_t *))   \
    OPTIONAL(DSGetBufferSegmentInfo,                                                              \
             (gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::uint32_t, std::int32_t,                \
              gentl::INFO_DATATYPE *, void *, std::size_t *))
