// A list view keeps each row's sub-item texts packed together and sorts rows
// with a merge that reads ahead; these tests hold both to what a plain vector
// of strings and std::stable_sort would give.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "merge_order.h"
#include "plain_merge.h"
#include "toolkit/application.h"
#include "toolkit/listview.h"

namespace {

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override { TApplication::Instance(); }
  void TearDown() override { TApplication::Instance()->ProcessMessages(); }

  // Every way of reading a row's sub-items gives the expected texts.
  static void ExpectTexts(const TListItem* item, const std::vector<std::string>& want) {
    const TStrings* sub = item->SubItems();
    ASSERT_EQ(sub->Count(), static_cast<int>(want.size()));
    for (int i = 0; i < sub->Count(); ++i) {
      EXPECT_EQ(sub->Strings(i), want[static_cast<size_t>(i)]) << "sub-item " << i;
      EXPECT_EQ(item->CellText(i + 1), want[static_cast<size_t>(i)]) << "column " << i + 1;
      EXPECT_EQ(item->ListView()->CellText(item->Index(), i + 1), want[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(sub->Strings(-1), "");
    EXPECT_EQ(sub->Strings(sub->Count()), "");
    EXPECT_EQ(item->CellText(sub->Count() + 1), "");
  }

  TListView view{nullptr};
};

TEST_F(ListViewTest, SubItemEditsKeepEveryOtherText) {
  TListItem* item = view.Items()->Add();
  item->SetCaption("1001");
  TStrings* sub = item->SubItems();
  std::vector<std::string> want;
  ExpectTexts(item, want);

  // Empty texts, GBK bytes and a zero byte are texts like any other.
  const std::string zero("a\0b", 3);
  sub->Add("\xD0\xA1\xB6\xEE");  // two GBK characters
  sub->Add("");
  sub->Add(zero);
  want = {"\xD0\xA1\xB6\xEE", "", zero};
  ExpectTexts(item, want);

  sub->Insert(0, "first");
  sub->Insert(2, "middle");
  sub->Insert(99, "clamped to the end");
  sub->Insert(-5, "clamped to the start");
  want = {"clamped to the start", "first", "\xD0\xA1\xB6\xEE", "middle", "", zero,
          "clamped to the end"};
  ExpectTexts(item, want);

  sub->Put(1, "a longer text than the one it replaces");
  sub->Put(3, "");
  sub->Put(6, "end");
  sub->Put(7, "out of range: ignored");
  sub->Put(-1, "out of range: ignored");
  want[1] = "a longer text than the one it replaces";
  want[3] = "";
  want[6] = "end";
  ExpectTexts(item, want);

  sub->Delete(0);
  sub->Delete(2);
  sub->Delete(4);
  sub->Delete(4);  // out of range now
  sub->Delete(-1);
  want = {"a longer text than the one it replaces", "\xD0\xA1\xB6\xEE", "", zero};
  ExpectTexts(item, want);
  EXPECT_EQ(item->Caption(), "1001");

  // A row too long to keep inside the item, and back.
  const std::string longText(300, 'x');
  sub->Insert(1, longText);
  want.insert(want.begin() + 1, longText);
  ExpectTexts(item, want);
  sub->Put(0, longText);
  want[0] = longText;
  ExpectTexts(item, want);
  sub->Delete(1);
  sub->Put(0, "short again");
  want.erase(want.begin() + 1);
  want[0] = "short again";
  ExpectTexts(item, want);

  sub->Clear();
  ExpectTexts(item, {});
  sub->Add("again");
  ExpectTexts(item, {"again"});
}

TEST_F(ListViewTest, RandomSubItemEditsMatchAVectorOfStrings) {
  std::mt19937 random(7);
  std::vector<TListItem*> items;
  std::vector<std::vector<std::string>> want(4);
  for (size_t r = 0; r < want.size(); ++r) items.push_back(view.Items()->Add());
  for (int step = 0; step < 2000; ++step) {
    const size_t r = random() % want.size();
    std::vector<std::string>& texts = want[r];
    TStrings* sub = items[r]->SubItems();
    const int count = static_cast<int>(texts.size());
    const int index = static_cast<int>(random() % static_cast<unsigned>(count + 2)) - 1;
    const std::string text(random() % 40, static_cast<char>('a' + step % 26));
    switch (random() % 6) {
      case 0:
      case 1:
        sub->Insert(index, text);
        texts.insert(texts.begin() + std::clamp(index, 0, count), text);
        break;
      case 2:
        sub->Put(index, text);
        if (index >= 0 && index < count) texts[static_cast<size_t>(index)] = text;
        break;
      case 3:
        sub->Delete(index);
        if (index >= 0 && index < count) texts.erase(texts.begin() + index);
        break;
      case 4:
        if (random() % 2 == 0) {  // a row's texts in one change
          const std::vector<std::string> more(random() % 4, text);
          std::vector<std::string_view> views(more.begin(), more.end());
          sub->AddStrings(views);
          texts.insert(texts.end(), more.begin(), more.end());
          break;
        }
        [[fallthrough]];
      default:
        if (random() % 20 == 0) {
          sub->Clear();
          texts.clear();
        }
    }
    ExpectTexts(items[r], texts);
    if (HasFailure()) FAIL() << "at step " << step;
  }
}

TEST_F(ListViewTest, EverySubItemChangeIsReportedOnce) {
  TListItem* item = view.Items()->Add();
  int changes = 0;
  view.OnChange = [&](TObject*, TListItem* changed, TItemChange change) {
    EXPECT_EQ(changed, item);
    EXPECT_EQ(change, ctText);
    ++changes;
  };
  TStrings* sub = item->SubItems();
  sub->Add("a");
  sub->Insert(0, "b");
  sub->Put(1, "c");
  sub->Delete(0);
  sub->Clear();
  const std::string_view two[] = {"d", "e"};
  sub->AddStrings(two);
  EXPECT_EQ(changes, 6);
  sub->Put(5, "out of range");
  sub->Delete(5);
  sub->AddStrings({});
  EXPECT_EQ(changes, 6);
}

// Rows of every count up to a few merge widths, including the short runs at
// the ends, come out as std::stable_sort orders them, texts with their rows.
TEST_F(ListViewTest, SortMatchesStableSortForEveryRowCount) {
  view.OnCompare = [](TObject*, TListItem* a, TListItem* b, intptr_t, int& result) {
    const std::string_view x = a->CellText(1), y = b->CellText(1);
    result = x < y ? -1 : (y < x ? 1 : 0);
  };
  std::mt19937 random(11);
  for (int n = 0; n <= 70; ++n) {
    view.Items()->Clear();
    std::vector<std::pair<std::string, std::string>> rows;  // key, row id
    for (int i = 0; i < n; ++i) {
      rows.push_back({std::string(1, static_cast<char>('a' + random() % 4)), std::to_string(i)});
      TListItem* item = view.Items()->Add();
      item->SubItems()->Add(rows.back().first);
      item->SubItems()->Add(rows.back().second);
      item->SetCaption(rows.back().second);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    ASSERT_TRUE(view.AlphaSort());
    ASSERT_EQ(view.Items()->Count(), n);
    for (int i = 0; i < n; ++i) {
      const TListItem* item = view.Items()->Item(i);
      EXPECT_EQ(item->Index(), i);
      ExpectTexts(item, {rows[static_cast<size_t>(i)].first, rows[static_cast<size_t>(i)].second});
      EXPECT_EQ(item->Caption(), rows[static_cast<size_t>(i)].second);
    }
    if (HasFailure()) FAIL() << "with " << n << " rows";
  }
}

// Answers that contradict each other still leave every row exactly once.
TEST_F(ListViewTest, RandomAnswersGiveAPermutation) {
  std::mt19937 random(13);
  view.OnCompare = [&random](TObject*, TListItem*, TListItem*, intptr_t, int& result) {
    result = static_cast<int>(random() % 3) - 1;
  };
  for (int n : {1, 2, 3, 17, 64, 65, 1000}) {
    view.Items()->Clear();
    for (int i = 0; i < n; ++i) view.Items()->Add()->SetCaption(std::to_string(i));
    view.AlphaSort();
    std::vector<int> seen;
    for (int i = 0; i < n; ++i) seen.push_back(std::stoi(view.Items()->Item(i)->Caption()));
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < n; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], i) << n << " rows";
  }
}

// The sort reads rows ahead of its comparisons; it still asks the handler
// the same pairs in the same order as the plain merge and ends in its order,
// for handlers that answer consistently, with ties of every kind, and not at
// all consistently.
TEST_F(ListViewTest, SortAsksThePairsOfThePlainMergeAndEndsInItsOrder) {
  using TAnswer = int (*)(int first, int second, const std::vector<int>& keys);
  const std::pair<const char*, TAnswer> handlers[] = {
      // Equal keys give 1 in both orders, as a descending sort by value does.
      {"ties give 1", [](int a, int b, const std::vector<int>& k) { return k[a] < k[b] ? -1 : 1; }},
      {"ties give -1",
       [](int a, int b, const std::vector<int>& k) { return k[a] > k[b] ? 1 : -1; }},
      {"ties give 0",
       [](int a, int b, const std::vector<int>& k) { return k[a] < k[b] ? -1 : (k[b] < k[a]); }},
      {"always 1", [](int, int, const std::vector<int>&) { return 1; }},
      {"always -1", [](int, int, const std::vector<int>&) { return -1; }},
      // A fixed answer per ordered pair, with no order behind the answers.
      {"any answer",
       [](int a, int b, const std::vector<int>&) {
         return static_cast<int>(
                    (static_cast<unsigned>(a) * 2654435761u ^ static_cast<unsigned>(b) * 40503u) %
                    3) -
                1;
       }},
  };
  std::mt19937 random(17);
  std::vector<int> counts(71);
  std::iota(counts.begin(), counts.end(), 0);
  for (int n : {127, 128, 129, 1000, 5000}) counts.push_back(n);
  for (const auto& [name, answer] : handlers) {
    for (int n : counts) {
      std::vector<int> keys;
      for (int i = 0; i < n; ++i) keys.push_back(static_cast<int>(random() % 4));
      std::vector<std::pair<int, int>> asked, expectedAsked;
      const std::vector<int> expected =
          samples::PlainMergeOrder(n, [&, answer = answer](int a, int b) {
            expectedAsked.emplace_back(a, b);
            return answer(a, b, keys);
          });
      view.OnCompare = [&, answer = answer](TObject*, TListItem* a, TListItem* b, intptr_t,
                                            int& result) {
        const int x = static_cast<int>(reinterpret_cast<intptr_t>(a->Data()));
        const int y = static_cast<int>(reinterpret_cast<intptr_t>(b->Data()));
        asked.emplace_back(x, y);
        result = answer(x, y, keys);
      };
      view.Items()->Clear();
      for (int i = 0; i < n; ++i) {
        TListItem* item = view.Items()->Add();
        item->SetData(reinterpret_cast<void*>(static_cast<intptr_t>(i)));
        item->SubItems()->Add(std::to_string(keys[static_cast<size_t>(i)]));
      }
      ASSERT_TRUE(view.AlphaSort());
      ASSERT_EQ(asked, expectedAsked) << name << ", " << n << " rows";
      for (int i = 0; i < n; ++i) {
        const TListItem* item = view.Items()->Item(i);
        const int row = expected[static_cast<size_t>(i)];
        ASSERT_EQ(item->Data(), reinterpret_cast<void*>(static_cast<intptr_t>(row)))
            << name << ", " << n << " rows, place " << i;
        ASSERT_EQ(item->CellText(1), std::to_string(keys[static_cast<size_t>(row)]));
        ASSERT_EQ(item->Index(), i);
      }
    }
  }
}

}  // namespace

namespace {

// Rows of every list view share the toolkit's slabs, which go back to the
// system as their last row goes: rows of one list view must survive what
// another does to its own, in any order.
TEST_F(ListViewTest, RowsOfListViewsSharingSlabsSurviveEachOthersDeletes) {
  auto other = std::make_unique<TListView>(nullptr);
  std::mt19937 random(7);
  auto fill = [](TListView& list, int rows, const std::string& tag) {
    for (int i = 0; i < rows; ++i) {
      TListItem* item = list.Items()->Add();
      item->SubItems()->Add(tag + std::to_string(i));
      item->SetCaption(std::to_string(i));
    }
  };
  auto check = [](TListView& list, const std::string& tag) {
    for (int i = 0; i < list.Items()->Count(); ++i) {
      const TListItem* item = list.Items()->Item(i);
      ASSERT_EQ(item->CellText(1), tag + item->Caption());
    }
  };
  // Interleaved, so that both own rows in the same slabs.
  for (int round = 0; round < 30; ++round) {
    fill(view, 500, "a");
    fill(*other, 300, "b");
  }
  // Rows of one go, at random places, until few are left.
  while (view.Items()->Count() > 100) {
    view.Items()->Delete(static_cast<int>(random() % static_cast<unsigned>(view.Items()->Count())));
  }
  check(view, "a");
  check(*other, "b");
  other->Items()->Clear();
  check(view, "a");
  fill(*other, 20000, "c");
  check(*other, "c");
  view.AlphaSort();
  check(view, "a");
  other.reset();  // its rows go with it
  check(view, "a");
  fill(view, 1000, "a");
  check(view, "a");
  view.Items()->Clear();
  fill(view, 3, "d");
  check(view, "d");
}

}  // namespace

// The sort on its own: a permutation of the rows in the plain merge's order,
// whatever the answers, with read-ahead hints only for rows that exist.
TEST(MergeOrder, GivesThePlainMergePermutation) {
  struct Case {
    std::vector<int> keys;
    int answer;  // 0: by key; otherwise every comparison answers this
    std::vector<int> order;
  };
  const Case kCases[] = {
      {{}, 0, {}},
      {{7}, 0, {0}},
      {{3, 1, 2}, 0, {1, 2, 0}},
      {{2, 1, 2, 1}, 0, {1, 3, 0, 2}},  // equal keys keep their order
      {{1, 2, 3}, 1, {2, 1, 0}},        // "after" both ways
      {{3, 2, 1}, -1, {0, 1, 2}},
  };
  for (const Case& c : kCases) {
    std::vector<int> rows(c.keys.size());
    std::iota(rows.begin(), rows.end(), 0);
    const auto order = toolkit_detail::MergeOrder(
        rows,
        [&](int a, int b) {
          return c.answer != 0 ? c.answer : (c.keys[a] > c.keys[b]) - (c.keys[a] < c.keys[b]);
        },
        [](int) { ADD_FAILURE() << "no read-ahead below its distance"; });
    EXPECT_EQ(order, c.order);
  }
  // Long enough to read ahead: random answers, same order as the plain merge.
  const int n = 200;
  std::vector<int> rows(n);
  std::iota(rows.begin(), rows.end(), 0);
  std::mt19937 plainDraws(7), draws(7);
  std::uniform_int_distribution<int> answer(-1, 1), plainAnswer(-1, 1);
  int fetched = 0;
  const auto order = toolkit_detail::MergeOrder(
      rows, [&](int, int) { return answer(draws); },
      [&](int row) {
        EXPECT_TRUE(row >= 0 && row < n);
        ++fetched;
      });
  EXPECT_EQ(order, samples::PlainMergeOrder(n, [&](int, int) { return plainAnswer(plainDraws); }));
  EXPECT_GT(fetched, 0);
}
