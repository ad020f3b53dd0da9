// Times, qualities, result codes and the server status of uavalue.h.
#include <charconv>
#include <cmath>
#include <limits>

#include "opc/taskmem.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

// DATE's day 0 (1899-12-30) in ticks since 1601-01-01, the UA and FILETIME
// epoch; exact in a double too.
constexpr std::int64_t kDateEpochTicks = 109205LL * 864000000000LL;
constexpr double kTicksPerDay = 864000000000.0;
constexpr double kMicrosecondsPerDay = 86400000000.0;

// The parts of a UA status code that name it, without its info bits.
constexpr ua::StatusCode code(ua::StatusCode s) { return s & 0xFFFF0000u; }

constexpr ua::StatusCode kGoodClamped = 0x00300000;
constexpr ua::StatusCode kGoodLocalOverride = 0x00960000;
constexpr ua::StatusCode kUncertainNoCommunicationLastUsableValue = 0x408F0000;
constexpr ua::StatusCode kUncertainLastUsableValue = 0x40900000;
constexpr ua::StatusCode kUncertainSensorNotAccurate = 0x40930000;
constexpr ua::StatusCode kUncertainEngineeringUnitsExceeded = 0x40940000;
constexpr ua::StatusCode kUncertainSubNormal = 0x40950000;
constexpr ua::StatusCode kBadNoCommunication = 0x80310000;
constexpr ua::StatusCode kBadWaitingForInitialData = 0x80320000;
constexpr ua::StatusCode kBadNodeIdInvalid = 0x80330000;
constexpr ua::StatusCode kBadNotReadable = 0x803A0000;
constexpr ua::StatusCode kBadOutOfRange = 0x803C0000;
constexpr ua::StatusCode kBadConfigurationError = 0x80890000;
constexpr ua::StatusCode kBadDeviceFailure = 0x808B0000;
constexpr ua::StatusCode kBadSensorFailure = 0x808C0000;
constexpr ua::StatusCode kBadOutOfService = 0x808D0000;

// A DataValue status carries limit bits (bits 8-9) when its info type
// (bit 10) says so; they are the DA limit bits.
WORD limitBits(ua::StatusCode s) { return (s & 0x400u) ? WORD((s >> 8) & 3u) : OPC_LIMIT_OK; }

WORD versionPart(const std::string& text, std::size_t& at) {
  unsigned value = 0;
  while (at < text.size() && (text[at] < '0' || text[at] > '9')) ++at;
  const auto [p, ec] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  at = std::size_t(p - text.data());
  return ec == std::errc() && value <= 0xFFFF ? WORD(value) : 0;
}

}  // namespace

FILETIME fileTimeFromUa(ua::DateTime t) {
  return t <= 0 ? FILETIME{0, 0}
                : FILETIME{DWORD(std::uint64_t(t) & 0xFFFFFFFFu), DWORD(std::uint64_t(t) >> 32)};
}

DATE dateFromUa(ua::DateTime t) { return double(t - kDateEpochTicks) / kTicksPerDay; }

ua::DateTime uaFromDate(DATE d) {
  // A DATE of our times resolves about a microsecond: rounding to whole
  // microseconds gives back the time a DATE was made from.
  const double us = std::round(d * kMicrosecondsPerDay);
  constexpr double kMinUs = -double(kDateEpochTicks / 10);
  constexpr double kMaxUs = 9.0e17;  // below the largest ticks, with room for the epoch
  // Dates before 1601 are the UA's "no time"; later than ticks hold, its last.
  if (!(us > kMinUs)) return 0;
  if (us >= kMaxUs) return std::numeric_limits<ua::DateTime>::max();
  return std::int64_t(us) * 10 + kDateEpochTicks;
}

WORD qualityFromStatus(ua::StatusCode status) {
  const ua::StatusCode c = code(status);
  const WORD limit = limitBits(status);
  if (ua::isGood(status)) {
    return WORD((c == kGoodLocalOverride ? OPC_QUALITY_LOCAL_OVERRIDE : OPC_QUALITY_GOOD) | limit);
  }
  if (ua::isUncertain(status)) {
    WORD q = OPC_QUALITY_UNCERTAIN;
    switch (c) {
      case kUncertainLastUsableValue:
      case kUncertainNoCommunicationLastUsableValue:
        q = OPC_QUALITY_LAST_USABLE;
        break;
      case kUncertainSensorNotAccurate:
        q = OPC_QUALITY_SENSOR_CAL;
        break;
      case kUncertainEngineeringUnitsExceeded:
        q = OPC_QUALITY_EGU_EXCEEDED;
        break;
      case kUncertainSubNormal:
        q = OPC_QUALITY_SUB_NORMAL;
        break;
      default:
        break;
    }
    return WORD(q | limit);
  }
  WORD q = OPC_QUALITY_BAD;
  switch (c) {
    case ua::status::BadNodeIdUnknown:
    case kBadNodeIdInvalid:
    case kBadConfigurationError:
      q = OPC_QUALITY_CONFIG_ERROR;
      break;
    case ua::status::BadNotConnected:
    case kBadWaitingForInitialData:
      q = OPC_QUALITY_NOT_CONNECTED;
      break;
    case kBadDeviceFailure:
      q = OPC_QUALITY_DEVICE_FAILURE;
      break;
    case kBadSensorFailure:
      q = OPC_QUALITY_SENSOR_FAILURE;
      break;
    case kBadNoCommunication:
    case ua::status::BadCommunicationError:
      q = OPC_QUALITY_COMM_FAILURE;
      break;
    case kBadOutOfService:
      q = OPC_QUALITY_OUT_OF_SERVICE;
      break;
    default:
      break;
  }
  return WORD(q | limit);
}

HRESULT resultFromStatus(ua::StatusCode status) {
  if (!ua::isBad(status)) return code(status) == kGoodClamped ? OPC_S_CLAMP : S_OK;
  switch (code(status)) {
    case ua::status::BadNodeIdUnknown:
    case ua::status::BadAttributeIdInvalid:  // no value: the node is no variable
      return OPC_E_UNKNOWNITEMID;
    case kBadNodeIdInvalid:
      return OPC_E_INVALIDITEMID;
    case ua::status::BadNotWritable:
    case kBadNotReadable:
    case ua::status::BadUserAccessDenied:
      return OPC_E_BADRIGHTS;
    case kBadOutOfRange:
      return OPC_E_RANGE;
    case ua::status::BadTypeMismatch:
      return OPC_E_BADTYPE;
    case ua::status::BadOutOfMemory:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

ItemValue itemValueFromUa(const ua::DataValue& dataValue) {
  ItemValue r;
  r.quality = qualityFromStatus(dataValue.status);
  r.timestamp = fileTimeFromUa(dataValue.sourceTimestamp ? dataValue.sourceTimestamp
                                                         : dataValue.serverTimestamp);
  if (ua::isBad(dataValue.status)) {
    r.error = resultFromStatus(dataValue.status);
    return r;  // a bad value carries no value
  }
  VARIANT v;
  r.error = variantFromUa(dataValue.value, &v);
  if (FAILED(r.error)) {
    r.quality = OPC_QUALITY_BAD;
    return r;
  }
  r.value = OleVariant::attach(v);
  return r;
}

DWORD accessRightsFromUa(std::uint8_t accessLevel) {
  DWORD rights = 0;
  if (accessLevel & 0x01) rights |= OPC_READABLE;
  if (accessLevel & 0x02) rights |= OPC_WRITEABLE;
  return rights;
}

HRESULT fillServerStatus(const ua::ServerStatus& status, OPCSERVERSTATUS& out) {
  out.ftStartTime = fileTimeFromUa(status.startTime);
  out.ftCurrentTime = fileTimeFromUa(status.currentTime);
  switch (status.state) {
    case ua::ServerState::Running:
      out.dwServerState = OPC_STATUS_RUNNING;
      break;
    case ua::ServerState::NoConfiguration:
      out.dwServerState = OPC_STATUS_NOCONFIG;
      break;
    // A server that is shutting down delivers no data but has not failed.
    case ua::ServerState::Suspended:
    case ua::ServerState::Shutdown:
      out.dwServerState = OPC_STATUS_SUSPENDED;
      break;
    case ua::ServerState::Test:
      out.dwServerState = OPC_STATUS_TEST;
      break;
    default:
      out.dwServerState = OPC_STATUS_FAILED;
      break;
  }
  const ua::BuildInfo& b = status.buildInfo;
  std::size_t at = 0;
  out.wMajorVersion = versionPart(b.softwareVersion, at);
  out.wMinorVersion = versionPart(b.softwareVersion, at);
  std::size_t buildAt = 0;
  out.wBuildNumber = versionPart(b.buildNumber, buildAt);
  if (b.buildNumber.empty()) out.wBuildNumber = versionPart(b.softwareVersion, at);
  std::string vendor = b.manufacturerName;
  if (!b.productName.empty()) vendor += (vendor.empty() ? "" : " ") + b.productName;
  out.szVendorInfo = opc::taskStringDup(opc::utf8ToUtf16(vendor));
  return out.szVendorInfo ? S_OK : E_OUTOFMEMORY;
}

}  // namespace veze6::uab
