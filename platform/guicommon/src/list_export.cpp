#include "guicommon/list_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "guicommon/guicommon.h"
#include "tmclient/civil_date.h"

namespace MListExport {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

bool ReadDigits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

std::string Reason(const char* what, const std::string& path, int error) {
  return std::string(what) + " " + path + ": " + std::strerror(error);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool FormatOfFileName(std::string_view path, TFormat& format) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
  const std::string_view extension = path.substr(dot + 1);
  if (EqualsIgnoringCase(extension, "csv")) {
    format = TFormat::Csv;
    return true;
  }
  if (EqualsIgnoringCase(extension, "xlsx")) {
    format = TFormat::Xlsx;
    return true;
  }
  return false;
}

const char* FormatName(TFormat format) {
  return format == TFormat::Csv ? "csv" : "xlsx";
}

bool ReadDateTimeCell(std::string_view text, SDateTime& v) {
  // "YYYY/MM/DD HH:MM:SS"
  if (text.size() != 19 || text[4] != '/' || text[7] != '/' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':')
    return false;
  if (!ReadDigits(text, 0, 4, v.iYear) || !ReadDigits(text, 5, 2, v.iMonth) ||
      !ReadDigits(text, 8, 2, v.iDay) || !ReadDigits(text, 11, 2, v.iHour) ||
      !ReadDigits(text, 14, 2, v.iMinute) || !ReadDigits(text, 17, 2, v.iSecond))
    return false;
  return v.iYear >= 1 && v.iMonth >= 1 && v.iMonth <= 12 && v.iDay >= 1 &&
         v.iDay <= tmclient::DaysInMonth(v.iYear, v.iMonth) && v.iHour <= 23 && v.iMinute <= 59 &&
         v.iSecond <= 59;
}

bool ReadAmountCell(std::string_view text, int64_t& fen) {
  // Exactly what CurrencyToString writes: an optional '-', digits, '.', two
  // digits.
  const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() < sign + 4 || text[text.size() - 3] != '.') return false;
  for (size_t i = sign; i < text.size(); ++i) {
    if (i != text.size() - 3 && (text[i] < '0' || text[i] > '9')) return false;
  }
  try {
    fen = StringToCurrency(std::string(text));
  } catch (const std::invalid_argument&) {
    return false;
  }
  return true;
}

bool ReadNumberCell(std::string_view text, int64_t& value) {
  const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= sign || (text[sign] == '0' && text.size() > sign + 1)) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

void AppendCsvField(std::string& out, std::string_view text) {
  // Every cell of a saved list passes here: one look-up per byte.
  static constexpr auto kSpecial = [] {
    std::array<bool, 256> special{};
    for (unsigned char c : {',', '"', '\r', '\n'}) special[c] = true;
    return special;
  }();
  bool quote = false;
  for (const char c : text) quote |= kSpecial[static_cast<unsigned char>(c)];
  if (!quote) {
    out += text;
    return;
  }
  out += '"';
  for (size_t at = 0;;) {
    const size_t quote = text.find('"', at);
    out += text.substr(at, quote == std::string_view::npos ? quote : quote + 1 - at);
    if (quote == std::string_view::npos) break;
    out += '"';
    at = quote + 1;
  }
  out += '"';
}

CExportFile::~CExportFile() {
  Discard();
}

bool CExportFile::Create(const std::string& target, std::string& error) {
  Discard();
  sTarget = target;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) {
    error = "no file name in " + target;
    return false;
  }
  // Hidden while it is written: nobody takes a half-written list for one.
  std::string name = folder + "." + base + ".XXXXXX";
  iFd = mkostemp(name.data(), O_CLOEXEC);
  if (iFd < 0) {
    error = Reason("cannot create a file in", FolderOf(target), errno);
    return false;
  }
  sTempPath = std::move(name);
  iWritten = 0;
  return true;
}

bool CExportFile::Write(std::string_view bytes, std::string& error) {
  const off_t from = iWritten;
  while (!bytes.empty()) {
    const ssize_t n = ::write(iFd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = Reason("cannot write", sTarget, n < 0 ? errno : ENOSPC);
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
    iWritten += n;
  }
  // The disk starts on what was written while the rest is made, so that
  // the flush at the end waits for little (a hint: errors come with it).
  ::sync_file_range(iFd, from, iWritten - from, SYNC_FILE_RANGE_WRITE);
  return true;
}

bool CExportFile::Commit(std::string& error) {
  if (iFd < 0) {
    error = "no file to save";
    return false;
  }
  if (::fsync(iFd) != 0) {
    error = Reason("cannot write", sTarget, errno);
    Discard();
    return false;
  }
  const int closed = ::close(iFd);
  iFd = -1;
  if (closed != 0) {
    error = Reason("cannot write", sTarget, errno);
    Discard();
    return false;
  }
  if (::rename(sTempPath.c_str(), sTarget.c_str()) != 0) {
    error = Reason("cannot save", sTarget, errno);
    Discard();
    return false;
  }
  sTempPath.clear();
  // The new name itself must reach the disk too.
  const int folder = ::open(FolderOf(sTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

void CExportFile::Discard() {
  if (iFd >= 0) ::close(iFd);
  iFd = -1;
  if (!sTempPath.empty()) ::unlink(sTempPath.c_str());
  sTempPath.clear();
}

CListFileWriter::~CListFileWriter() = default;

namespace {

// CSV: UTF-8 with a byte-order mark, RFC 4180 (CRLF after every record),
// every cell as the list shows it. Written in blocks.
class CCsvWriter : public CListFileWriter {
 public:
  explicit CCsvWriter(CExportFile& file) : rFile(file) { sBuffer.reserve(kBlock + 4096); }

  bool Begin(std::span<const std::string> captions, std::span<const TCellKind>,
             std::string& error) override {
    sBuffer = "\xEF\xBB\xBF";
    iColumns = captions.size();
    for (size_t c = 0; c < captions.size(); ++c) {
      if (c > 0) sBuffer += ',';
      AppendCsvField(sBuffer, captions[c]);
    }
    sBuffer += "\r\n";
    return Flush(false, error);
  }

  bool Row(std::span<const std::string_view> cells, std::string& error) override {
    for (size_t c = 0; c < iColumns; ++c) {
      if (c > 0) sBuffer += ',';
      if (c < cells.size()) AppendCsvField(sBuffer, cells[c]);
    }
    sBuffer += "\r\n";
    return Flush(false, error);
  }

  bool Finish(std::string& error) override { return Flush(true, error); }

 private:
  static constexpr size_t kBlock = 1 << 20;
  bool Flush(bool all, std::string& error) {
    if (!all && sBuffer.size() < kBlock) return true;
    if (!rFile.Write(sBuffer, error)) return false;
    sBuffer.clear();
    return true;
  }
  CExportFile& rFile;
  std::string sBuffer;
  size_t iColumns = 0;
};

std::string XlsxReason(const char* what, lxw_error code) {
  std::string reason = std::string(what) + ": " + lxw_strerror(code);
  if (errno != 0) reason += std::string(" (") + std::strerror(errno) + ")";
  return reason;
}

uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// libxlsxwriter keeps the sheet in a temporary file of its own and never
// looks at that file's write errors (a full disk, a file-size limit): the
// workbook then holds a sheet cut off wherever the disk filled up, and is
// "written" all the same. So the sheet is read back from the workbook: its
// entry must inflate whole to the size the archive gives and end the XML.
bool SheetIsWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string zip = all.str();
  static constexpr char kSheet[] = "xl/worksheets/sheet1.xml";
  static constexpr std::string_view kEnd = "</worksheet>";
  // The end of the central directory, then its entries.
  size_t eocd = std::string::npos;
  for (size_t at = zip.size() >= 22 ? zip.size() - 22 : 0; zip.size() >= 22; --at) {
    if (Le(zip, at, 4) == 0x06054b50) {
      eocd = at;
      break;
    }
    if (at == 0 || zip.size() - at > 22 + 65535) break;
  }
  if (eocd == std::string::npos) return false;
  size_t entry = Le(zip, eocd + 16, 4);
  for (uint32_t n = Le(zip, eocd + 10, 2); n > 0; --n) {
    if (entry + 46 > zip.size() || Le(zip, entry, 4) != 0x02014b50) return false;
    const uint32_t method = Le(zip, entry + 10, 2), packed = Le(zip, entry + 20, 4),
                   size = Le(zip, entry + 24, 4), nameLength = Le(zip, entry + 28, 2),
                   local = Le(zip, entry + 42, 4);
    const size_t next = entry + 46 + nameLength + Le(zip, entry + 30, 2) + Le(zip, entry + 32, 2);
    if (entry + 46 + nameLength > zip.size()) return false;
    if (zip.compare(entry + 46, nameLength, kSheet) != 0) {
      entry = next;
      continue;
    }
    if (method != 8 || local + 30 > zip.size() || Le(zip, local, 4) != 0x04034b50) return false;
    const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    if (data + packed > zip.size()) return false;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
    z.avail_in = packed;
    std::string window(1 << 16, '\0');
    std::string tail;
    int state = Z_OK;
    while (state == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(window.data());
      z.avail_out = static_cast<uInt>(window.size());
      state = inflate(&z, Z_NO_FLUSH);
      const size_t produced = window.size() - z.avail_out;
      tail.append(window.data(), produced);
      if (tail.size() > kEnd.size() + 64) tail.erase(0, tail.size() - kEnd.size() - 64);
    }
    const bool whole = state == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
    return whole && tail.size() >= kEnd.size() &&
           tail.compare(tail.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
  }
  return false;
}

// XLSX through libxlsxwriter, one sheet, rows written in order (the
// library's constant-memory mode keeps one row in memory, the rest in a
// temporary file of its own in the target's folder). The library writes
// the whole workbook into the new file when it is closed.
class CXlsxWriter : public CListFileWriter {
 public:
  explicit CXlsxWriter(CExportFile& file) : rFile(file) {}
  ~CXlsxWriter() override {
    if (pBook != nullptr) lxw_workbook_free(pBook);  // not finished: nothing is written
  }

  bool Begin(std::span<const std::string> captions, std::span<const TCellKind> kinds,
             std::string& error) override {
    sFolder = FolderOf(rFile.Target());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = sFolder.data();
    errno = 0;
    pBook = workbook_new_opt(rFile.Path().c_str(), &options);
    pSheet = pBook ? workbook_add_worksheet(pBook, nullptr) : nullptr;
    if (pSheet == nullptr) {
      error = "cannot start the workbook";
      if (errno != 0) error += std::string(": ") + std::strerror(errno);
      return false;
    }
    pHeader = workbook_add_format(pBook);
    format_set_bold(pHeader);
    pAmount = workbook_add_format(pBook);
    format_set_num_format(pAmount, "0.00");
    pDateTime = workbook_add_format(pBook);
    format_set_num_format(pDateTime, "yyyy-mm-dd hh:mm:ss");
    vKinds.assign(captions.size(), TCellKind::Text);
    for (size_t c = 0; c < captions.size() && c < kinds.size(); ++c) vKinds[c] = kinds[c];
    for (size_t c = 0; c < captions.size(); ++c) {
      const double width = vKinds[c] == TCellKind::DateTime ? 20 : 16;
      worksheet_set_column(pSheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width,
                           nullptr);
    }
    for (size_t c = 0; c < captions.size(); ++c) {
      if (!Check(worksheet_write_string(pSheet, 0, static_cast<lxw_col_t>(c), captions[c].c_str(),
                                        pHeader),
                 error))
        return false;
    }
    return true;
  }

  bool Row(std::span<const std::string_view> cells, std::string& error) override {
    if (iRow > kMaxXlsxRows) {
      error = "a sheet holds at most " + std::to_string(kMaxXlsxRows) + " rows";
      return false;
    }
    const auto row = static_cast<lxw_row_t>(iRow++);
    for (size_t c = 0; c < cells.size() && c < vKinds.size(); ++c) {
      const std::string_view text = cells[c];
      if (text.empty()) continue;
      const auto col = static_cast<lxw_col_t>(c);
      lxw_error written = LXW_NO_ERROR;
      int64_t whole = 0;
      SDateTime when{};
      switch (vKinds[c]) {
        case TCellKind::Amount:
          if (ReadAmountCell(text, whole)) {
            written =
                worksheet_write_number(pSheet, row, col, static_cast<double>(whole) / 100, pAmount);
            break;
          }
          written = WriteText(row, col, text);
          break;
        case TCellKind::Number:
          written =
              ReadNumberCell(text, whole)
                  ? worksheet_write_number(pSheet, row, col, static_cast<double>(whole), nullptr)
                  : WriteText(row, col, text);
          break;
        case TCellKind::DateTime:
          if (ReadDateTimeCell(text, when)) {
            lxw_datetime at{when.iYear, when.iMonth,  when.iDay,
                            when.iHour, when.iMinute, static_cast<double>(when.iSecond)};
            written = worksheet_write_datetime(pSheet, row, col, &at, pDateTime);
            break;
          }
          written = WriteText(row, col, text);
          break;
        case TCellKind::Text:
          written = WriteText(row, col, text);
          break;
      }
      if (!Check(written, error)) return false;
    }
    return true;
  }

  bool Finish(std::string& error) override {
    errno = 0;
    const lxw_error closed = workbook_close(pBook);  // frees the workbook too
    pBook = nullptr;
    if (closed != LXW_NO_ERROR) {
      error = XlsxReason(("cannot write " + rFile.Target()).c_str(), closed);
      return false;
    }
    if (!SheetIsWhole(rFile.Path())) {
      error = "cannot write " + rFile.Target() +
              ": the sheet was cut off (the disk is full, or the file too large)";
      return false;
    }
    return true;
  }

 private:
  lxw_error WriteText(lxw_row_t row, lxw_col_t col, std::string_view text) {
    sCell.assign(text);  // the library takes NUL-terminated text
    return worksheet_write_string(pSheet, row, col, sCell.c_str(), nullptr);
  }
  bool Check(lxw_error code, std::string& error) {
    if (code == LXW_NO_ERROR) return true;
    error = XlsxReason("cannot write the cell", code);
    return false;
  }

  CExportFile& rFile;
  std::string sFolder;  // the library keeps the pointer
  lxw_workbook* pBook = nullptr;
  lxw_worksheet* pSheet = nullptr;
  lxw_format* pHeader = nullptr;
  lxw_format* pAmount = nullptr;
  lxw_format* pDateTime = nullptr;
  std::vector<TCellKind> vKinds;
  int64_t iRow = 1;
  std::string sCell;
};

}  // namespace

std::unique_ptr<CListFileWriter> MakeListFileWriter(TFormat format, CExportFile& file) {
  if (format == TFormat::Csv) return std::make_unique<CCsvWriter>(file);
  return std::make_unique<CXlsxWriter>(file);
}

}  // namespace MListExport
