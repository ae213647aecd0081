#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "guicommon/export.h"

// Saving a result list to a file: how each cell is typed, the CSV coding,
// the file that replaces its target only once it is whole, and the writers
// of the two formats. Nothing here needs Qt; texts are UTF-8.
namespace MListExport {

// What a column holds, as its window declares it. Text keeps every byte
// (codes, phone and order numbers keep their leading zeros); a number, an
// amount ("1234.56", two decimals) or a date-time ("YYYY/MM/DD HH:MM:SS")
// becomes a typed cell where the format has types, and stays text when it
// does not read as one.
enum class TCellKind : uint8_t { Text, Number, Amount, DateTime };

enum class TFormat : uint8_t { Csv, Xlsx };

// The format a file name asks for by its extension (".csv", ".xlsx", in any
// case). False for any other name.
GUICOMMON_API bool FormatOfFileName(std::string_view path, TFormat& format);
// "csv" or "xlsx": the extension, and the format's name in the audit.
GUICOMMON_API const char* FormatName(TFormat format);

struct SDateTime {
  int iYear, iMonth, iDay, iHour, iMinute, iSecond;
};
// Reads "YYYY/MM/DD HH:MM:SS" naming a real date and time. False otherwise.
GUICOMMON_API bool ReadDateTimeCell(std::string_view text, SDateTime& value);
// Reads an amount in yuan ("-12.05") into fen. False for any other text.
GUICOMMON_API bool ReadAmountCell(std::string_view text, int64_t& fen);
// Reads a decimal whole number without blanks or leading zeros ("0" itself
// is one): a text with a leading zero is a code and stays text.
GUICOMMON_API bool ReadNumberCell(std::string_view text, int64_t& value);

// Appends one field: as it is, or in double quotes (a quote doubled) when it
// holds a comma, a quote, a carriage return or a line feed.
GUICOMMON_API void AppendCsvField(std::string& out, std::string_view text);

// A file made beside its target (same folder, so that the rename stays on
// one file system), readable by its owner only, that takes the target's
// name once it is whole. Until Commit succeeds the target is untouched, and
// a file that was not committed is removed (Discard, or the destructor).
class GUICOMMON_API CExportFile {
 public:
  CExportFile() = default;
  ~CExportFile();
  CExportFile(const CExportFile&) = delete;
  CExportFile& operator=(const CExportFile&) = delete;

  // Creates the new file (mode 0600). False with the reason in `error`
  // (the folder cannot be written, it does not exist, ...).
  bool Create(const std::string& target, std::string& error);
  int Fd() const { return iFd; }
  const std::string& Path() const { return sTempPath; }
  const std::string& Target() const { return sTarget; }
  // Writes all of `bytes`; false with the reason (a full disk, a file-size
  // limit) in `error`.
  bool Write(std::string_view bytes, std::string& error);
  // Flushes the file to the disk, closes it and renames it over the target.
  // False with the reason in `error`; the new file is removed then.
  bool Commit(std::string& error);
  // Closes and removes the new file, if there is one.
  void Discard();

 private:
  std::string sTarget;
  std::string sTempPath;
  int iFd = -1;
  int64_t iWritten = 0;  // bytes written through Write
};

// Writes a list, row after row, into a CExportFile. Every call returns false
// with the reason in `error` once something failed; the caller then discards
// the file.
class GUICOMMON_API CListFileWriter {
 public:
  virtual ~CListFileWriter();
  // The header row (the captions) and the kinds of the columns.
  virtual bool Begin(std::span<const std::string> captions, std::span<const TCellKind> kinds,
                     std::string& error) = 0;
  // One row; `cells` may be shorter than the header (empty cells follow).
  virtual bool Row(std::span<const std::string_view> cells, std::string& error) = 0;
  // Everything written into the file (not yet committed).
  virtual bool Finish(std::string& error) = 0;
};

// A writer of `format` into `file` (created already).
GUICOMMON_API std::unique_ptr<CListFileWriter> MakeListFileWriter(TFormat format,
                                                                  CExportFile& file);

// The rows one XLSX sheet holds below its header row.
inline constexpr int64_t kMaxXlsxRows = 1048575;

}  // namespace MListExport
