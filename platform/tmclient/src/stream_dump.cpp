#include "tmclient/stream_dump.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tmclient/qrs_datetime.h"
#include "tmclient/wire_tags.h"

namespace tmclient {

namespace {

namespace wire = tmclient::wire;

// Walks the bytes item by item; every read is checked against the end.
class Lister {
 public:
  explicit Lister(std::string_view bytes) : sIn(bytes) {}

  std::string Run() {
    while (iPos < sIn.size()) {
      if (!Item()) break;
    }
    return std::move(sOut);
  }

 private:
  bool Item() {
    const std::size_t start = iPos;
    const auto tag = static_cast<uint8_t>(sIn[iPos++]);
    switch (tag) {
      case wire::kInt32:
        return Number<int32_t>("int32");
      case wire::kInt16:
        return Number<int16_t>("int16");
      case wire::kInt64:
        return Number<int64_t>("int64");
      case wire::kUInt64:
        return Number<uint64_t>("uint64");
      case wire::kString: {
        std::string_view text;
        if (!Text(text)) return Error(start, "truncated string");
        Line("string ");
        Quoted(text);
        return true;
      }
      case wire::kDateTime:
        return DateTime(start);
      case wire::kErrorMsg:
        return ErrorMsg(start);
      case wire::kStreamBegin: {
        uint8_t version = 0;
        std::string_view name;
        if (!Fixed(version) || !Name(name)) return Error(start, "truncated stream begin");
        Line("stream ");
        Quoted(name);
        if (version != wire::kVersion) sOut += " version " + std::to_string(version);
        ++iDepth;
        return true;
      }
      case wire::kStructBegin:
      case wire::kListBegin: {
        std::string_view name;
        if (!Name(name)) return Error(start, "truncated name");
        uint32_t count = 0;
        if (tag == wire::kListBegin && !Fixed(count)) return Error(start, "truncated list count");
        Line(tag == wire::kListBegin ? "list " : "struct ");
        Quoted(name);
        if (tag == wire::kListBegin) sOut += " count " + std::to_string(count);
        ++iDepth;
        return true;
      }
      case wire::kStreamEnd:
        return End("end stream");
      case wire::kStructEnd:
        return End("end struct");
      case wire::kListEnd:
        return End("end list");
      default: {
        char what[32];
        std::snprintf(what, sizeof what, "unknown tag 0x%02x", tag);
        return Error(start, what);
      }
    }
  }

  template <class T>
  bool Fixed(T& v) {
    if (sIn.size() - iPos < sizeof v) return false;
    std::memcpy(&v, sIn.data() + iPos, sizeof v);
    iPos += sizeof v;
    return true;
  }

  template <class T>
  bool Number(const char* type) {
    T v;
    if (!Fixed(v)) return Error(iPos - 1, ("truncated " + std::string(type)).c_str());
    Line(type);
    sOut += ' ';
    sOut += std::to_string(v);
    return true;
  }

  bool Text(std::string_view& text) {
    uint32_t n = 0;
    if (!Fixed(n) || n > sIn.size() - iPos) return false;
    text = sIn.substr(iPos, n);
    iPos += n;
    return true;
  }

  bool Name(std::string_view& name) {
    uint8_t n = 0;
    if (!Fixed(n) || n > sIn.size() - iPos) return false;
    name = sIn.substr(iPos, n);
    iPos += n;
    return true;
  }

  bool DateTime(std::size_t start) {
    uint16_t year = 0;
    uint8_t part[5] = {};
    if (!Fixed(year) || !Fixed(part)) return Error(start, "truncated datetime");
    if (!QRSDateTime::isValid(year, part[0], part[1], part[2], part[3], part[4])) {
      return Error(start, "invalid datetime");
    }
    const QRSDateTime v(year, part[0], part[1], part[2], part[3], part[4]);
    Line("datetime ");
    sOut += v.isNull() ? std::string("null") : v.toString("%Y-%M-%D %H:%N:%S");
    return true;
  }

  bool ErrorMsg(std::size_t start) {
    int32_t code = 0;
    int32_t subCode = 0;
    std::string_view msg;
    std::string_view subMsg;
    if (!Fixed(code) || !Text(msg) || !Fixed(subCode) || !Text(subMsg)) {
      return Error(start, "truncated errormsg");
    }
    Line("errormsg ");
    sOut += std::to_string(code) + ' ';
    Quoted(msg);
    sOut += ' ' + std::to_string(subCode) + ' ';
    Quoted(subMsg);
    return true;
  }

  bool End(const char* what) {
    if (iDepth > 0) --iDepth;
    Line(what);
    return true;
  }

  bool Error(std::size_t at, const std::string& what) {
    iDepth = 0;
    Line("error at offset ");
    sOut += std::to_string(at) + ": " + what;
    return false;
  }

  void Line(const char* head) {
    if (!sOut.empty()) sOut += '\n';
    sOut.append(2 * static_cast<std::size_t>(iDepth), ' ');
    sOut += head;
  }

  void Quoted(std::string_view text) {
    sOut += '"';
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        sOut += '\\';
        sOut += c;
      } else if (b >= 0x20 && b < 0x7f) {
        sOut += c;
      } else {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        sOut += hex;
      }
    }
    sOut += '"';
  }

  std::string_view sIn;
  std::size_t iPos = 0;
  int iDepth = 0;
  std::string sOut;
};

}  // namespace

std::string DumpStream(std::string_view bytes) {
  std::string listing = Lister(bytes).Run();
  if (!listing.empty()) listing += '\n';
  return listing;
}

}  // namespace tmclient
