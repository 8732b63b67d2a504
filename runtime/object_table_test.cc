#include "runtime/object_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/program_heap.h"

namespace runtime {
namespace {

// A record as the owners lay theirs out: the platform handle first.
struct FakeRecord {
  std::intptr_t handle;
  int payload;
};

ObjectTable* table_under_test = nullptr;
std::vector<ObjectValue> closed;

// Closes like the owners do: only a live object, releasing its record.
void CloseFake(ObjectValue value) {
  auto* record = static_cast<FakeRecord*>(FindLiveRecord(table_under_test, value));
  if (record == nullptr) return;
  closed.push_back(value);
  ReleaseRecord(table_under_test, value);
}

class ObjectTableTest : public testing::Test {
 protected:
  void SetUp() override {
    CreateProgramHeap();
    closed.clear();
    table_under_test = CreateObjectTable(sizeof(FakeRecord), 16, CloseFake);
    ASSERT_NE(table_under_test, nullptr);
  }
  void TearDown() override { DestroyProgramHeap(); }

  // Opens a fake object under `number`; returns its record.
  FakeRecord* Open(ObjectValue number, std::intptr_t handle = 7) {
    auto* record = static_cast<FakeRecord*>(ObtainRecord(table_under_test, number));
    if (record != nullptr) record->handle = handle;
    return record;
  }

  ObjectTable* table() { return table_under_test; }
};

TEST_F(ObjectTableTest, SlotsGrowToTheNumberPlusTheGrowthStep) {
  EXPECT_EQ(table()->slotCount, 16);
  Open(3);
  Open(100);
  EXPECT_EQ(table()->slotCount, 116);
  EXPECT_NE(FindLiveRecord(table(), 3), nullptr);
  EXPECT_NE(FindLiveRecord(table(), 100), nullptr);
  for (int number = 16; number < 116; ++number) {
    if (number != 100) {
      EXPECT_EQ(table()->slots[number], nullptr) << number;
    }
  }
  Open(116);
  EXPECT_EQ(table()->slotCount, 132);
}

TEST_F(ObjectTableTest, ReusingANumberClosesItFirstAndKeepsTheRecord) {
  FakeRecord* first = Open(3, 11);
  first->payload = 42;
  FakeRecord* second = Open(3, 12);
  EXPECT_EQ(closed, std::vector<ObjectValue>{3});
  EXPECT_EQ(second, first);
  // The close released the record, so the second open starts from zeros.
  EXPECT_EQ(second->payload, 0);
  EXPECT_EQ(second->handle, 12);

  // A closed number is reused without closing anything.
  CloseFake(3);
  closed.clear();
  EXPECT_EQ(Open(3), first);
  EXPECT_TRUE(closed.empty());
}

TEST_F(ObjectTableTest, DynamicIdentitiesLieOutsideTheSlots) {
  FakeRecord* one = Open(AUTO_NUMBER);
  FakeRecord* two = Open(AUTO_NUMBER);
  auto id_one = reinterpret_cast<ObjectValue>(one);
  auto id_two = reinterpret_cast<ObjectValue>(two);
  EXPECT_NE(id_one, id_two);
  for (ObjectValue id : {id_one, id_two}) {
    EXPECT_FALSE(id >= 0 && id < table()->slotCount) << id;
    EXPECT_EQ(FindLiveRecord(table(), id), reinterpret_cast<void*>(id));
    EXPECT_EQ(IsLiveObject(table(), id), id);
  }
}

TEST_F(ObjectTableTest, LivenessOfClosedUnusedAndOpenValues) {
  EXPECT_EQ(IsLiveObject(table(), 0), 0);  // never used
  Open(0);
  EXPECT_NE(IsLiveObject(table(), 0), 0);
  CloseFake(0);
  EXPECT_EQ(IsLiveObject(table(), 0), 0);  // closed: zero-filled record

  auto id = reinterpret_cast<ObjectValue>(Open(AUTO_NUMBER));
  CloseFake(id);
  EXPECT_EQ(IsLiveObject(table(), id), 0);  // closed: gone from the list

  // Any value is safe to ask about, also for the record itself.
  for (ObjectValue value : {AUTO_NUMBER, ObjectValue{-12345}, ObjectValue{16},
                            ObjectValue{1000000}, id}) {
    EXPECT_EQ(IsLiveObject(table(), value), 0) << value;
    EXPECT_EQ(FindLiveRecord(table(), value), nullptr) << value;
  }
}

TEST_F(ObjectTableTest, CloseAllGoesByNumberThenOldestFirst) {
  Open(5);
  auto first = reinterpret_cast<ObjectValue>(Open(AUTO_NUMBER));
  Open(2);
  auto second = reinterpret_cast<ObjectValue>(Open(AUTO_NUMBER));
  auto third = reinterpret_cast<ObjectValue>(Open(AUTO_NUMBER));
  Open(9);
  CloseFake(9);
  closed.clear();

  CloseAllObjects(table());
  EXPECT_EQ(closed, (std::vector<ObjectValue>{2, 5, first, second, third}));
  EXPECT_EQ(table()->listHead, nullptr);
  EXPECT_EQ(IsLiveObject(table(), 2), 0);
  EXPECT_EQ(IsLiveObject(table(), 5), 0);
}

TEST_F(ObjectTableTest, CloseAllWithoutCallbackDoesNothing) {
  ObjectTable* plain = CreateObjectTable(sizeof(FakeRecord), 4, nullptr);
  auto* record = static_cast<FakeRecord*>(ObtainRecord(plain, 1));
  record->handle = 3;
  // Reusing a number without a callback hands back the record as it is.
  EXPECT_EQ(ObtainRecord(plain, 1), record);
  EXPECT_EQ(record->handle, 3);
  CloseAllObjects(plain);
  EXPECT_NE(IsLiveObject(plain, 1), 0);
}

TEST_F(ObjectTableTest, ReleasingAnyNodeKeepsTheListLinked) {
  RecordNode* head = nullptr;
  void* a = PushRecord(&head, 8);
  void* b = PushRecord(&head, 8);
  void* c = PushRecord(&head, 8);
  ASSERT_EQ(RecordOf(head), c);

  UnlinkRecord(&head, b);  // middle
  EXPECT_EQ(RecordOf(head), c);
  EXPECT_EQ(RecordOf(head->older), a);
  EXPECT_EQ(head->older->newer, head);
  EXPECT_EQ(head->older->older, nullptr);

  UnlinkRecord(&head, c);  // head
  EXPECT_EQ(RecordOf(head), a);
  EXPECT_EQ(head->newer, nullptr);

  UnlinkRecord(&head, a);  // last
  EXPECT_EQ(head, nullptr);
}

TEST_F(ObjectTableTest, EnumerationSkipsFreeRecords) {
  Open(1);
  Open(3);
  CloseFake(1);
  auto id = reinterpret_cast<ObjectValue>(Open(AUTO_NUMBER));
  BeginEnumeration(table());
  ObjectValue value = -5;
  EXPECT_EQ(NextLiveObject(table(), &value), table()->slots[3]);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(NextLiveObject(table(), &value), reinterpret_cast<void*>(id));
  EXPECT_EQ(value, id);
  EXPECT_EQ(NextLiveObject(table(), &value), nullptr);
}

}  // namespace
}  // namespace runtime
