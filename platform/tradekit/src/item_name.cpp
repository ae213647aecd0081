#include <cstddef>
#include <cstring>

#include "tradekit/tradekit.h"

namespace {

struct Item {
  int code;
  const char* name;
};

struct Table {
  int category;
  const Item* items;
  std::size_t count;
};

constexpr Item kCustomerTypes[] = {
    {1, "个人客户"},
    {2, "集团客户"},
    {3, "家庭客户"},
    {4, "内部客户"},
};

constexpr Item kUserStates[] = {
    {1, "正常"}, {2, "单向停机"}, {3, "双向停机"}, {4, "预销户"},
    {5, "销户"}, {6, "挂失停机"}, {7, "欠费停机"},
};

constexpr Item kCertificates[] = {
    {1, "居民身份证"},
    {2, "护照"},
    {3, "军官证"},
    {4, "士兵证"},
    {5, "港澳居民来往内地通行证"},
    {6, "台湾居民来往大陆通行证"},
    {7, "户口簿"},
    {8, "警官证"},
    {9, "外国人永久居留证"},
    {10, "单位证明"},
    {11, "临时居民身份证"},
    {12, "武警身份证"},
    {13, "营业执照"},
    {14, "组织机构代码证"},
    {99, "其他证件"},
};

constexpr Item kMicroPayBusiTypes[] = {
    {1332, "小额支付冻结"},     {1333, "小额支付解冻"},     {1334, "小额支付帐户信息修改"},
    {1335, "小额支付帐户改号"}, {1336, "小额支付帐户存款"}, {1337, "小额支付帐户取款(转预存)"},
};

template <std::size_t N>
constexpr Table MakeTable(int category, const Item (&items)[N]) {
  return {category, items, N};
}

constexpr Table kTables[] = {
    MakeTable(kItemCustomerType, kCustomerTypes),
    MakeTable(kItemUserStatus, kUserStates),
    MakeTable(kItemCertificate, kCertificates),
    MakeTable(kItemMicroPayBusi, kMicroPayBusiTypes),
};

const char* FindName(int category, int code) {
  for (const Table& table : kTables) {
    if (table.category != category) continue;
    for (std::size_t i = 0; i < table.count; ++i)
      if (table.items[i].code == code) return table.items[i].name;
  }
  return nullptr;
}

// Copies at most kItemNameSize - 1 bytes of GBK text and terminates it; a
// double-byte character that would not fit whole is left out.
void CopyName(const char* source, char* name) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  std::size_t n = 0;
  while (s[n]) {
    const std::size_t width = (s[n] >= 0x81 && s[n] <= 0xFE && s[n + 1]) ? 2 : 1;
    if (n + width > kItemNameSize - 1) break;
    n += width;
  }
  std::memcpy(name, source, n);
  name[n] = '\0';
}

}  // namespace

extern "C" int GetItemName(int category, int code, char* name) {
  if (!name) return -1;
  const char* found = FindName(category, code);
  CopyName(found ? found : "", name);
  return found ? 0 : -1;
}
