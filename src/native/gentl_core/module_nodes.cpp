// The GenApi documents of the system, interface, local device and data
// stream modules: read-only facts about each, plus the stream's counters.
#include "entry.hpp"

namespace vantix::gentl_core {

namespace {

void set_texts(NodeMap &nodes, std::initializer_list<std::pair<const char *, std::string>> values) {
    RegisterMap &r = nodes.registers();
    for (const auto &[name, value] : values) r.set_string(nodes.find(name)->reg, value);
}

void add_texts(NodeMap &nodes, const char *category, std::initializer_list<const char *> names) {
    for (const char *name : names) nodes.add(text_feature(name, category, Access::ro));
}

}  // namespace

void build_system_nodes(System &system) {
    const ProducerInfo &p = transport().producer();
    NodeMap &n = system.nodes;
    add_texts(n, "SystemInformation",
              {"TLVendorName", "TLModelName", "TLID", "TLVersion", "TLType"});
    n.add(read_only_integer("GenTLVersionMajor", "SystemInformation"));
    n.add(read_only_integer("GenTLVersionMinor", "SystemInformation"));
    n.add(read_only_integer("InterfaceCount", "InterfaceEnumeration"));
    set_texts(n, {{"TLVendorName", p.vendor},
                  {"TLModelName", p.model},
                  {"TLID", p.id},
                  {"TLVersion", p.version},
                  {"TLType", p.tl_type}});
    RegisterMap &r = n.registers();
    r.set_int(n.find("GenTLVersionMajor")->reg, gentl::kVersionMajor);
    r.set_int(n.find("GenTLVersionMinor")->reg, gentl::kVersionMinor);
    r.set_int(n.find("InterfaceCount")->reg, static_cast<std::int64_t>(system.interfaces.size()));
    n.publish(p.model, p.vendor);
}

void build_interface_nodes(Interface &iface) {
    NodeMap &n = iface.nodes;
    add_texts(n, "InterfaceInformation", {"InterfaceID", "InterfaceType"});
    n.add(read_only_integer("DeviceCount", "DeviceEnumeration"));
    set_texts(n, {{"InterfaceID", iface.entry.id}, {"InterfaceType", iface.entry.tl_type}});
    n.registers().set_int(n.find("DeviceCount")->reg,
                          static_cast<std::int64_t>(iface.devices.size()));
    const ProducerInfo &p = transport().producer();
    n.publish(std::string(p.module_model) + " interface", p.vendor);
}

void build_device_nodes(Device &device) {
    NodeMap &n = device.nodes;
    const DeviceEntry &e = *device.entry;
    const std::string vendor = device_text(e, gentl::DEVICE_INFO_VENDOR),
                      model = device_text(e, gentl::DEVICE_INFO_MODEL);
    add_texts(
        n, "DeviceInformation",
        {"DeviceID", "DeviceVendorName", "DeviceModelName", "DeviceSerialNumber", "DeviceType"});
    set_texts(n, {{"DeviceID", device.id},
                  {"DeviceVendorName", vendor},
                  {"DeviceModelName", model},
                  {"DeviceSerialNumber", device_text(e, gentl::DEVICE_INFO_SERIAL_NUMBER)},
                  {"DeviceType", device_text(e, gentl::DEVICE_INFO_TLTYPE)}});
    n.publish(model, vendor);
}

void build_stream_nodes(Stream &stream) {
    NodeMap &n = stream.nodes;
    add_texts(n, "StreamInformation", {"StreamID", "StreamType"});
    for (const char *name : {"StreamAnnouncedBufferCount", "StreamAnnounceBufferMinimum",
                             "StreamDeliveredFrameCount", "StreamLostFrameCount"})
        n.add(read_only_integer(name, "BufferHandlingControl", 8));
    n.add(bool_feature("StreamIsGrabbing", "BufferHandlingControl", Access::ro));
    set_texts(n, {{"StreamID", stream.id}, {"StreamType", stream.source->tl_type()}});
    n.registers().set_int(n.find("StreamAnnounceBufferMinimum")->reg, 1);
    stream.source->add_nodes(n);
    const ProducerInfo &p = transport().producer();
    n.publish(std::string(p.module_model) + " stream", p.vendor);
}

}  // namespace vantix::gentl_core
