// The texts of the PLC sink: log formats, SinkError messages, the
// connection test's reports and the class docstring, exactly as operators
// and hosts see them.
#pragma once

namespace vantix::plc {

inline constexpr const char *kLoggerName = "vantix.sink.modbus";

// Log formats.
inline constexpr const char *kLogNoPymodbus =
    "pymodbus is not installed -> PlcLinkSink runs in simulation mode (log only)";
inline constexpr const char *kLogSimulateAsked =
    "simulate=True -> PlcLinkSink runs in simulation mode (log only)";
inline constexpr const char *kLogStartingDisconnected =
    "%s -> starting disconnected (will reconnect on send)";
inline constexpr const char *kLogConnectException = "Modbus 연결 예외: %s";
inline constexpr const char *kLogSimulated = "[modbus-sim] %s";
inline constexpr const char *kLogWriteFailed = "Modbus write failed (%s) -> reconnecting";
inline constexpr const char *kLogNoBlock =
    "%s -> block_write falls back to one request per register";

// SinkError messages (host and port, or the cause, follow).
inline constexpr const char *kCannotConnect = "PlcLinkSink: cannot connect to ";
inline constexpr const char *kNotConnected = "PlcLinkSink: not connected to ";
inline constexpr const char *kSendDeferred = " (send deferred)";
inline constexpr const char *kReconnectFailed = "PlcLinkSink: reconnect failed ";
inline constexpr const char *kWriteFailed = "PlcLinkSink: write failed: ";
inline constexpr const char *kErrorResponseHead = "write_register(";
inline constexpr const char *kErrorResponseTail = ") returned an error: ";
inline constexpr const char *kBlockHead = "write_registers(";
inline constexpr const char *kUnconfirmedTail = ") was not confirmed: ";
inline constexpr const char *kBadTimeout =
    "PlcLinkSink: timeout_s must be a positive, finite number of seconds below 9.2e9, got ";
inline constexpr const char *kBadBlockWrite =
    "PlcLinkSink: block_write must be True or False, got ";
inline constexpr const char *kNotOneBlock =
    "PlcLinkSink: block_write=True, but the result registers are not contiguous: ";
inline constexpr const char *kNoClient = "PlcLinkSink._write_all: the sink holds no client";
inline constexpr const char *kOutOfRangeTail = " is out of range: a Modbus ";

// Log formats for a setting that no request can carry.
inline constexpr const char *kLogOutOfRange = "%s -> every send will fail until it is corrected";
inline constexpr const char *kLogHeartbeatOutOfRange =
    "%s -> heartbeats will not be written until it is corrected";

// Connection test reports.
inline constexpr const char *kTestNoPymodbus =
    "pymodbus is not installed - cannot test the connection (simulation mode)";
inline constexpr const char *kTestConnectError = "connection error: ";
inline constexpr const char *kTestCannotReach = "cannot reach ";
inline constexpr const char *kTestCannotReachHint =
    " - check the IP, the port, the firewall, and that the PLC is powered on";
inline constexpr const char *kTestNoReadHead = "연결됨(";
inline constexpr const char *kTestNoReadTail = ") — 그러나 Modbus 읽기 응답 없음: ";
inline constexpr const char *kTestErrorHead = "연결됨 — 그러나 슬레이브 응답 오류(unit ";
inline constexpr const char *kTestErrorTail = " (unit_id·레지스터 주소 확인)";
inline constexpr const char *kTestPassed = "connected and responding - ";

inline constexpr const char *kClassDoc =
    "Modbus TCP 홀딩 레지스터에 결과 기록.\n"
    "\n"
    "params:\n"
    "    host (str): PLC 주소. 기본 \"127.0.0.1\"\n"
    "    port (int): Modbus TCP 포트. 기본 502\n"
    "    unit_id (int): Modbus 유닛(슬레이브) ID. 기본 1\n"
    "    timeout_s (float): 요청 한 번의 타임아웃(초). 기본 1.0 (응답 없는 PLC 에서\n"
    "        send 는 재연결 후 한 번 더 시도하므로 약 2배, 하트비트는 1배를 기다린다)\n"
    "    strict_open (bool): True 이면 연결에 실패할 때 open() 이 SinkError 를 발생. 기본 False\n"
    "        (False 이면 연결 없이 시작하고 send 때 다시 연결한다)\n"
    "    verdict_register (int): 판정 코드(OK=1, NG=2, ERROR=3) 레지스터. 기본 100\n"
    "    score_register (int): 점수 레지스터. 기본 101\n"
    "    seq_register (int): 시퀀스 번호(1..65535, 다음은 0) 레지스터. 기본 102\n"
    "    product_register (int | None): 제품 ID 해시(UTF-8 CRC-32 의 하위 16비트) 레지스터.\n"
    "        기본 103, None 이면 기록하지 않음\n"
    "    heartbeat_register (int | None): write_heartbeat() 값 레지스터. 기본 None (사용 안 함)\n"
    "    score_scale (float): 점수에 곱해 정수로 바꾸는 배율(0..65535 로 제한, 버림). 기본 1000\n"
    "    block_write (bool): True 이고 결과 레지스터 주소가 연속이면 한 번의 다중 레지스터\n"
    "        쓰기(function 16)로 모두 기록해 PLC 가 새 판정과 옛 시퀀스를 함께 보지 않는다.\n"
    "        연속이 아니면 레지스터마다 한 번씩 쓴다(open() 이 경고). 기본 False\n"
    "    simulate (bool): True 이면 pymodbus 가 있어도 시뮬레이션 모드로 연다. 기본 False\n"
    "\n"
    "pymodbus 가 없으면 쓰지 않고 로그만 남기는 시뮬레이션 모드로 동작한다.";

}  // namespace vantix::plc
