// The GenTL functions the producer exports, declared once. Every source
// that defines one includes this, so a definition that strays from its
// declaration does not compile; the fuzzing harness calls them through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gentl.hpp"

GENTL_EXPORT gentl::GC_ERROR GCGetInfo(std::int32_t, gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCGetLastError(gentl::GC_ERROR *, char *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCInitLib();
GENTL_EXPORT gentl::GC_ERROR GCCloseLib();
GENTL_EXPORT gentl::GC_ERROR GCReadPort(gentl::PORT_HANDLE, std::uint64_t, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCWritePort(gentl::PORT_HANDLE, std::uint64_t, const void *,
                                         std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCGetPortURL(gentl::PORT_HANDLE, char *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCGetPortInfo(gentl::PORT_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                           void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCRegisterEvent(gentl::EVENTSRC_HANDLE, std::int32_t,
                                             gentl::EVENT_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR GCUnregisterEvent(gentl::EVENTSRC_HANDLE, std::int32_t);
GENTL_EXPORT gentl::GC_ERROR GCGetNumPortURLs(gentl::PORT_HANDLE, std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR GCGetPortURLInfo(gentl::PORT_HANDLE, std::uint32_t, std::int32_t,
                                              gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCReadPortStacked(gentl::PORT_HANDLE,
                                               gentl::PORT_REGISTER_STACK_ENTRY *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR GCWritePortStacked(gentl::PORT_HANDLE,
                                                gentl::PORT_REGISTER_STACK_ENTRY *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR EventGetData(gentl::EVENT_HANDLE, void *, std::size_t *,
                                          std::uint64_t);
GENTL_EXPORT gentl::GC_ERROR EventGetDataInfo(gentl::EVENT_HANDLE, const void *, std::size_t,
                                              std::int32_t, gentl::INFO_DATATYPE *, void *,
                                              std::size_t *);
GENTL_EXPORT gentl::GC_ERROR EventGetInfo(gentl::EVENT_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                          void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR EventFlush(gentl::EVENT_HANDLE);
GENTL_EXPORT gentl::GC_ERROR EventKill(gentl::EVENT_HANDLE);
GENTL_EXPORT gentl::GC_ERROR TLOpen(gentl::TL_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR TLClose(gentl::TL_HANDLE);
GENTL_EXPORT gentl::GC_ERROR TLGetInfo(gentl::TL_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                       void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR TLGetNumInterfaces(gentl::TL_HANDLE, std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR TLGetInterfaceID(gentl::TL_HANDLE, std::uint32_t, char *,
                                              std::size_t *);
GENTL_EXPORT gentl::GC_ERROR TLGetInterfaceInfo(gentl::TL_HANDLE, const char *, std::int32_t,
                                                gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR TLOpenInterface(gentl::TL_HANDLE, const char *, gentl::IF_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR TLUpdateInterfaceList(gentl::TL_HANDLE, gentl::bool8_t *,
                                                   std::uint64_t);
GENTL_EXPORT gentl::GC_ERROR IFClose(gentl::IF_HANDLE);
GENTL_EXPORT gentl::GC_ERROR IFGetInfo(gentl::IF_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                       void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR IFGetNumDevices(gentl::IF_HANDLE, std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR IFGetDeviceID(gentl::IF_HANDLE, std::uint32_t, char *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR IFUpdateDeviceList(gentl::IF_HANDLE, gentl::bool8_t *, std::uint64_t);
GENTL_EXPORT gentl::GC_ERROR IFGetDeviceInfo(gentl::IF_HANDLE, const char *, std::int32_t,
                                             gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR IFOpenDevice(gentl::IF_HANDLE, const char *, std::int32_t,
                                          gentl::DEV_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR IFGetParentTL(gentl::IF_HANDLE, gentl::TL_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DevGetPort(gentl::DEV_HANDLE, gentl::PORT_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DevGetNumDataStreams(gentl::DEV_HANDLE, std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR DevGetDataStreamID(gentl::DEV_HANDLE, std::uint32_t, char *,
                                                std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DevOpenDataStream(gentl::DEV_HANDLE, const char *, gentl::DS_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DevGetInfo(gentl::DEV_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                        void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DevClose(gentl::DEV_HANDLE);
GENTL_EXPORT gentl::GC_ERROR DevGetParentIF(gentl::DEV_HANDLE, gentl::IF_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSAnnounceBuffer(gentl::DS_HANDLE, void *, std::size_t, void *,
                                              gentl::BUFFER_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSAllocAndAnnounceBuffer(gentl::DS_HANDLE, std::size_t, void *,
                                                      gentl::BUFFER_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSFlushQueue(gentl::DS_HANDLE, std::int32_t);
GENTL_EXPORT gentl::GC_ERROR DSStartAcquisition(gentl::DS_HANDLE, std::int32_t, std::uint64_t);
GENTL_EXPORT gentl::GC_ERROR DSStopAcquisition(gentl::DS_HANDLE, std::int32_t);
GENTL_EXPORT gentl::GC_ERROR DSGetInfo(gentl::DS_HANDLE, std::int32_t, gentl::INFO_DATATYPE *,
                                       void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferID(gentl::DS_HANDLE, std::uint32_t, gentl::BUFFER_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSClose(gentl::DS_HANDLE);
GENTL_EXPORT gentl::GC_ERROR DSRevokeBuffer(gentl::DS_HANDLE, gentl::BUFFER_HANDLE, void **,
                                            void **);
GENTL_EXPORT gentl::GC_ERROR DSQueueBuffer(gentl::DS_HANDLE, gentl::BUFFER_HANDLE);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferInfo(gentl::DS_HANDLE, gentl::BUFFER_HANDLE, std::int32_t,
                                             gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferChunkData(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                  gentl::SINGLE_CHUNK_DATA *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetParentDev(gentl::DS_HANDLE, gentl::DEV_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSGetNumBufferParts(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                 std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferPartInfo(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                 std::uint32_t, std::int32_t,
                                                 gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DSAnnounceCompositeBuffer(gentl::DS_HANDLE, std::size_t, void **,
                                                       std::size_t *, void *,
                                                       gentl::BUFFER_HANDLE *);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferInfoStacked(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                    gentl::DS_BUFFER_INFO_STACKED *, std::size_t);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferPartInfoStacked(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                        gentl::DS_BUFFER_PART_INFO_STACKED *,
                                                        std::size_t);
GENTL_EXPORT gentl::GC_ERROR DSGetNumFlows(gentl::DS_HANDLE, std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetFlowInfo(gentl::DS_HANDLE, std::uint32_t, std::int32_t,
                                           gentl::INFO_DATATYPE *, void *, std::size_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetNumBufferSegments(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                    std::uint32_t *);
GENTL_EXPORT gentl::GC_ERROR DSGetBufferSegmentInfo(gentl::DS_HANDLE, gentl::BUFFER_HANDLE,
                                                    std::uint32_t, std::int32_t,
                                                    gentl::INFO_DATATYPE *, void *, std::size_t *);
