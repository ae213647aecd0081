#include "backoffice/demo_data.h"

#include <array>
#include <cstdio>
#include <random>
#include <vector>

#include "backoffice/conditions.h"
#include "backoffice/credentials.h"
#include "backoffice/stamp.h"
#include "backoffice/store.h"

namespace backoffice {
namespace {

constexpr int64_t kFirstSoNbr = 310000000000;
constexpr int64_t kFirstServId = 8610000000;
constexpr int64_t kYearSeconds = 365LL * 86400;

struct BusinessKind {
  int32_t code;
  int weight;  // relative frequency
  std::array<const char*, 3> remarks;
};

// Remarks are compiled as GBK.
const std::array<BusinessKind, 6> kKinds{{
    {1332, 6, {"用户申请冻结小额支付帐户", "挂失冻结", "营业厅受理冻结"}},
    {1333, 5, {"用户申请解冻", "解除挂失", "营业厅受理解冻"}},
    {1334, 8, {"修改日消费限额", "修改交易密码", "修改证件信息"}},
    {1335, 2, {"改号：原号码注销", "过户改号", "携号改号"}},
    {1336, 45, {"现金存款", "银行卡转入", "充值卡存款"}},
    {1337, 34, {"转预存款", "取款转话费", "余额转预存"}},
}};

const std::array<const char*, 4> kUserRemarks{"", "营业厅开户", "网上营业厅开户", "客户经理代办"};

// Certificate types, as the code tables of the desktop name them: 1 identity
// card (most users), 2 passport, 3 officer's card, 5 Hong Kong/Macao pass,
// 13 business licence.
struct Certificate {
  int code;
  int weight;
};
const std::array<Certificate, 5> kCertificates{{{1, 80}, {2, 7}, {3, 5}, {5, 4}, {13, 4}}};

std::string Digits(std::mt19937_64& rng, int n) {
  std::string s(static_cast<size_t>(n), '0');
  for (char& c : s) c = static_cast<char>('0' + rng() % 10);
  return s;
}

std::string PhoneNumber(std::mt19937_64& rng) {
  static const char kSecond[] = "3456789";
  std::string s = "1";
  s += kSecond[rng() % 7];
  s += Digits(rng, 9);
  return s;
}

}  // namespace

DemoSummary GenerateDemoRows(const DemoOptions& options, DemoLoader& loader) {
  const int64_t rows = options.rows > 0 ? options.rows : 0;
  const int64_t end = StampToSeconds(options.endStamp ? options.endStamp : NowStamp());
  std::mt19937_64 rng(options.seed);
  DemoSummary summary;

  // Users first: about one per ten log rows, at least a few dozen.
  const int64_t users = std::max<int64_t>(50, rows / 10);
  std::vector<std::string> phones;
  phones.reserve(static_cast<size_t>(users));
  std::vector<int> regWeights;
  for (const auto& c : kCertificates) regWeights.push_back(c.weight);
  std::discrete_distribution<int> regType(regWeights.begin(), regWeights.end());
  int64_t servId = kFirstServId;
  MMicroPaymentDef::SMpUserInfo user;
  for (int64_t i = 0; i < users; ++i) {
    std::string phone = PhoneNumber(rng);
    phones.push_back(phone);
    // One in eight users has an older, closed account on the same number;
    // one in forty has deleted the current one.
    int versions = rng() % 8 == 0 ? 2 : 1;
    int64_t created = end - 2 * kYearSeconds - static_cast<int64_t>(rng() % kYearSeconds);
    for (int v = 0; v < versions; ++v) {
      bool last = v == versions - 1;
      int sts = !last ? 0 : (rng() % 40 == 0 ? 2 : 1);
      int reg = kCertificates[static_cast<size_t>(regType(rng))].code;
      std::string regNbr = reg == 1    ? Digits(rng, 17) + (rng() % 11 == 0 ? "X" : Digits(rng, 1))
                           : reg == 2  ? "E" + Digits(rng, 8)
                           : reg == 13 ? Digits(rng, 15)
                                       : "G" + Digits(rng, 8);
      // The draws below keep the order of the fields: same seed, same data.
      user.SERV_ID = servId++;
      user.PHONE_ID = phone;
      user.MP_PWD = HashTransactionPassword(Digits(rng, 6));
      user.REG_TYPE = static_cast<short>(reg);
      user.REG_NBR = std::move(regNbr);
      user.FEE_LIMIT = static_cast<int32_t>((1 + rng() % 10) * 10000);
      user.MP_STS = static_cast<short>(sts);
      const int64_t createdStamp = SecondsToStamp(created);
      user.MP_CREATE_DATE = FromStamp(createdStamp);
      user.MPP_TRANS_ID = "MPP" + std::to_string(createdStamp) + Digits(rng, 4);
      user.SO_NBR = kFirstSoNbr - 1 - static_cast<int64_t>(rng() % 1000000);
      user.REMARK = kUserRemarks[rng() % kUserRemarks.size()];
      loader.Add(user);
      created += static_cast<int64_t>(rng() % (kYearSeconds / 2)) + 86400;
    }
  }
  summary.users = users;

  // Log rows in time order over the year that ends at `end`, so that the
  // order number grows with the time as it does in production.
  std::vector<int> weights;
  for (const auto& k : kKinds) weights.push_back(k.weight);
  std::discrete_distribution<int> kind(weights.begin(), weights.end());
  const int64_t start = end - kYearSeconds;
  MMicroPaymentDef::SMpInfo log;
  for (int64_t i = 0; i < rows; ++i) {
    int64_t t = start + (rows > 1 ? kYearSeconds * i / (rows - 1) : kYearSeconds);
    int64_t stamp = SecondsToStamp(t);
    const BusinessKind& k = kKinds[static_cast<size_t>(kind(rng))];
    int32_t amount = 0;
    if (k.code == kDepositBusiCode) amount = static_cast<int32_t>((1 + rng() % 500) * 100);
    if (k.code == kWithdrawBusiCode) amount = -static_cast<int32_t>((1 + rng() % 300) * 50);
    char serial[40];
    const int serialLen =
        std::snprintf(serial, sizeof serial, "MP%lld%06lld", static_cast<long long>(stamp),
                      static_cast<long long>(i % 1000000));
    log.SO_NBR = kFirstSoNbr + i;
    log.BUSI_CODE = k.code;
    log.PHONE_ID = phones[static_cast<size_t>(rng() % phones.size())];
    log.AMOUNT = amount;
    log.MPP_TRANSACTION_ID.assign(serial, static_cast<size_t>(serialLen));
    log.MPP_TIME = FromStamp(stamp);
    log.REMARK = k.remarks[rng() % k.remarks.size()];
    loader.Add(log);
    if (i == 0) summary.firstStamp = stamp;
    summary.lastStamp = stamp;
  }
  summary.logRows = rows;
  return summary;
}

DemoSummary GenerateDemo(const std::string& db, const DemoOptions& options) {
  return OpenStore(db)->CreateDemo(options);
}

}  // namespace backoffice
