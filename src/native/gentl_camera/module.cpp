// vantix.io.camera.gentl_camera: the GentlCamera class and the module
// functions around it. The behaviour lives in the files named beside each
// group; this file only puts the module together.
#include <pybind11/pybind11.h>

#include "../common/shared_pool.hpp"
#include "camera.hpp"
#include "convert/convert.hpp"

namespace py = pybind11;
namespace glue = vantix::glue;
namespace cam = vantix::camera;

namespace {

constexpr const char *kLoggerName = "vantix.camera.harvester";

constexpr const char *kClassDoc =
    "GenTL 프로듀서(.cti)와 harvesters 로 산업용 카메라 한 대를 구동한다.\n"
    "\n"
    "params 키: cti_path, serial, model, vendor, index, num_buffers, timeout_s,\n"
    "width, height, offset_x, offset_y, pixel_format, exposure_us, gain, fps,\n"
    "features, bayer_cv_code, trigger_line, trigger_activation.\n"
    "\n"
    "timeout_s(기본 5.0초)는 프레임 한 장을 기다리는 한도이며 _receive 가\n"
    "받은 값을 그대로 acquirer 에 넘긴다. 하드웨어 트리거에서는 호스트의\n"
    "트리거 결합이 짧은 구간으로 나누어 기다리므로 timeout_s 가 그 대기를\n"
    "제한하지 않는다. 유한하지 않은 timeout_s (NaN, 무한대)는 끝없는 대기가\n"
    "되므로 CameraError 로 거부한다.";

constexpr const char *kCloseDoc =
    "모든 자원을 놓는다. 몇 번이든, 어느 스레드에서든 호출할 수 있다.\n"
    "\n"
    "카메라는 즉시 닫힌 것으로 표시되어 새 수신이 시작되지 않고, 진행 중인\n"
    "수신(다른 스레드의 read())이 끝나기를 기다린 뒤 acquirer 를 멈추고 없앤다.\n"
    "그 수신은 None 을 돌려준다. 최악의 대기: 하드웨어 트리거에서는 대기 구간\n"
    "하나(HARDWARE_SLICE_S, 0.2초), 연속·소프트웨어 트리거에서는 진행 중인\n"
    "수신의 timeout_s (프레임이 오면 그 즉시 끝난다).";

// Candidate node names per convenience setting, in the order they are tried.
py::dict image_format_nodes() {
    py::dict t;
    t["width"] = py::make_tuple("Width");
    t["height"] = py::make_tuple("Height");
    t["offset_x"] = py::make_tuple("OffsetX");
    t["offset_y"] = py::make_tuple("OffsetY");
    t["pixel_format"] = py::make_tuple("PixelFormat");
    return t;
}

py::dict continuous_convenience_nodes() {
    py::dict t;
    t["exposure_us"] = py::make_tuple("ExposureTime", "ExposureTimeAbs", "ExposureTimeRaw");
    t["gain"] = py::make_tuple("Gain", "GainRaw", "GainAbs");
    t["fps"] = py::make_tuple("AcquisitionFrameRate", "AcquisitionFrameRateAbs");
    return t;
}

// The automatic mode that a manual value of the setting switches "Off".
py::dict auto_nodes() {
    py::dict t;
    t["exposure_us"] = "ExposureAuto";
    t["gain"] = "GainAuto";
    t["fps"] = "AcquisitionFrameRateAuto";
    return t;
}

}  // namespace

PYBIND11_MODULE(gentl_camera, m) {
    glue::bind_module(m);
    glue::use_shared_pool();
    m.attr("logger") = py::module_::import("logging").attr("getLogger")(kLoggerName);
    m.attr("np") = py::module_::import("numpy");
    m.attr("threading") = py::module_::import("threading");
    for (const char *name : {"CameraError", "TriggerCoupledCamera", "Frame", "TriggerMode"})
        glue::import_from(m, "vantix.io.camera.base", name);
    glue::import_from(m, "vantix.io.camera.genicam_producers", "discover_producers");
    glue::import_from(m, "vantix.io.camera._native_quiet", "quiet_gentl_chatter");

    m.attr("_PRIVILEGES") = py::make_tuple("exclusive", "control", "read_only");
    // Harvesters shared by the cameras (and enumerations) that use the same
    // producers, keyed by the tuple of producer paths.
    m.attr("_SHARED_HARVESTERS") = py::dict();
    m.attr("_HARVESTERS_LOCK") = m.attr("threading").attr("Lock")();

    m.def(
        "_safe_info", [](py::object obj, const char *name) { return cam::safe_info(obj, name); },
        py::arg("obj"), py::arg("name"), "getattr(obj, name), 읽다가 예외가 나면 None.");
    m.def("enumerate_devices", &cam::enumerate_devices, py::arg("cti_path") = py::none(),
          "카메라를 열지 않고 장치 목록을 돌려준다: {\"devices\": [...], \"available\": bool, "
          "\"reason\": str|None}. 일반적인 실패로는 예외를 내지 않는다.");
    m.def("_open_acquirer", &cam::open_acquirer, py::arg("h"), py::arg("index"),
          "exclusive → control → read_only 순으로 ImageAcquirer 를 만든다: (acquirer, 권한).");
    m.def("_tolerate_unsupported_module_events", &cam::tolerate_unsupported_module_events,
          "acquirer 생성 중 register_event 의 InvalidParameterException 을 "
          "NotImplementedException 으로 바꾸는 컨텍스트 관리자.");
    m.def("_check_producer", &cam::check_producer, py::arg("path"),
          "GenTL 프로듀서가 아니면 (진입점이 빠진 라이브러리) CameraError.");
    m.def("_is_timeout", &cam::is_timeout, py::arg("exc"),
          "fetch 예외가 시간 초과인지 (클래스 이름 또는 메시지로) 판정한다.");
    cam::add_module_events(m);
    cam::add_buffer_image(m);
    cam::add_conversion(m);

    glue::ClassBuilder(m, "GentlCamera", py::make_tuple(m.attr("TriggerCoupledCamera")), kClassDoc)
        .init(&cam::init, py::arg("params") = py::none())
        .method("open", &cam::open, "프로듀서 등록, 장치 선택, 설정 적용 후 취득을 시작한다.")
        .method("close", &cam::close, kCloseDoc)
        .method("__del__", &cam::finalize,
                "close() 없이 버려진 열린 카메라는 경고를 남기고 장치를 놓는다.")
        .method("_select_device", &cam::select_device, py::arg("devices"),
                "serial/model/vendor/index 로 고른 장치의 device_info_list 위치.")
        .method("_apply_features", &cam::apply_features,
                "편의 설정(수동 모드 포함)을 적용한 뒤 params.features 를 적용한다.")
        .method("_find_node", &cam::find_node, py::arg("name"), "이름의 GenICam 노드, 없으면 None.")
        .method("_set_node", &cam::set_node, py::arg("name"), py::arg("value"),
                "노드에 값을 쓴다. 없거나 쓸 수 없으면 CameraError.")
        .method("_read_node", &cam::read_node, py::arg("name"),
                "노드의 현재 값, 없거나 읽을 수 없으면 None.")
        .method("_node_pixel_format", &cam::node_pixel_format,
                "PixelFormat 노드의 현재 값, 없으면 빈 문자열.")
        .method("_execute_node", &cam::execute_node, py::arg("name"),
                "명령 노드를 실행한다. 없거나 실패하면 CameraError.")
        .method("set_trigger_mode", &cam::set_trigger_mode, py::arg("mode"),
                "트리거 모드를 바꾼다 (취득 중이면 진행 중인 수신이 끝나기를 기다린 뒤\n"
                "멈췄다가 다시 시작). TriggerMode 멤버, 값 또는 이름을 받는다.")
        .method("_apply_trigger_mode", &cam::apply_trigger_mode, py::arg("mode"),
                "트리거 노드(선택자, 모드, 소스, 에지)를 모드에 맞게 쓴다.")
        .method("_receive", &cam::receive, py::arg("timeout_s"),
                "프레임 하나: (BGR 이미지, 메타데이터), 시간 초과면 None.")
        .method("_to_bgr", &cam::to_bgr, py::arg("component"), py::arg("pixel_format"),
                "성분의 이미지를 새 BGR uint8 배열 (height, width, 3) 로. 변환할 수 없으면 "
                "CameraError.")
        .attr("IMAGE_FORMAT_NODES", image_format_nodes())
        .attr("CONTINUOUS_CONVENIENCE_NODES", continuous_convenience_nodes())
        .attr("AUTO_NODES", auto_nodes())
        .attr("FRAME_RATE_ENABLE_NODES",
              py::make_tuple("AcquisitionFrameRateEnable", "AcquisitionFrameRateEnabled"))
        .attr("TRIGGER_SELECTOR_CANDIDATES",
              py::make_tuple("FrameStart", "ExposureStart", "AcquisitionStart", "ExposureActive"))
        .finish();
}
