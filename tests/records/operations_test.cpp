#include "records/operations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using operations::Id;

// An item as docs/wire-format.md names it.
template <class T>
std::string DocName() {
  auto tail = [](std::string_view name) { return std::string(name.substr(name.rfind('.') + 1)); };
  if constexpr (std::is_same_v<T, int>) {
    return "int32 result";
  } else if constexpr (std::is_same_v<T, QRSErrorMsg>) {
    return "error record";
  } else if constexpr (operations::detail::kIsList<T>) {
    return "`" + tail(operations::kListName<typename T::value_type>) + "`";
  } else {
    return "`" + tail(T::kStreamName) + "`";
  }
}

template <class Tuple>
std::string DocItems() {
  std::string text;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    ((text += (I == 0 ? "" : ", ") + DocName<std::tuple_element_t<I, Tuple>>()), ...);
  }
  (std::make_index_sequence<std::tuple_size_v<Tuple>>());
  return text.empty() ? "nothing" : text;
}

// The operation tables of docs/wire-format.md, as the catalogue makes them.
std::string ExpectedTables() {
  std::string streams = "| stream | items in order |\n|---|---|\n";
#define MPAY_DOC_STREAMS_(ID, ...)                                                \
  streams += std::string("| `") + operations::Of(Id::ID).requestStream + "` | " + \
             DocItems<operations::Inputs<Id::ID>>() + " |\n";                     \
  streams += std::string("| `") + operations::Of(Id::ID).replyStream + "` | " +   \
             DocItems<operations::Outputs<Id::ID>>() + " |\n";
  MPAY_OPERATIONS(MPAY_DOC_STREAMS_)
#undef MPAY_DOC_STREAMS_
  std::string names =
      "| operation | interface | service code | right | sent again |\n"
      "|---|---|---|---|---|\n";
  static constexpr const char* kSentAgain[] = {"no", "if the URL lists it", "yes"};
  for (const operations::Descriptor& d : operations::kAll) {
    const std::string right = d.access == operations::Access::kRight
                                  ? std::string("`") + d.right + "`"
                              : d.access == operations::Access::kSession ? "a session"
                                                                         : "none";
    names += std::string("| `") + d.label + "` | `" + d.interfaceName + "` | `" + d.serviceCode +
             "` | " + right + " | " + kSentAgain[static_cast<int>(d.retry)] + " |\n";
  }
  return streams + "\n" + names;
}

TEST(Operations, TheWireFormatPageListsEveryOperationAsTheCatalogueHasIt) {
  std::ifstream file(MPAY_SOURCE_DIR "/docs/wire-format.md");
  ASSERT_TRUE(file) << "docs/wire-format.md";
  std::stringstream page;
  page << file.rdbuf();
  const std::string expected = ExpectedTables();
  EXPECT_NE(page.str().find(expected), std::string::npos)
      << "section 4 of docs/wire-format.md should hold, as written:\n"
      << expected;
}

TEST(Operations, ARequestNamesAnOperationOnlyByItsOwnInterfaceAndCode) {
  for (const operations::Descriptor& d : operations::kAll) {
    EXPECT_EQ(operations::Find(d.interfaceName, d.serviceCode), &d);
    for (const operations::Descriptor& other : operations::kAll) {
      if (std::string_view(other.interfaceName) != d.interfaceName) {
        EXPECT_EQ(operations::Find(other.interfaceName, d.serviceCode), nullptr) << d.label;
      }
    }
  }
  EXPECT_EQ(operations::Find("", ""), nullptr);
  EXPECT_EQ(operations::Label(Id::kUnknown), "unknown");
}

}  // namespace
