#include "runtime/object_table.h"

#include <cstring>

#include "runtime/program_heap.h"

namespace runtime {
namespace {

bool IsNumber(const ObjectTable* table, ObjectValue value) {
  return value >= 0 && value < table->slotCount;
}

bool IsLive(const void* record) {
  std::intptr_t handle;
  std::memcpy(&handle, record, sizeof(handle));
  return handle != 0;
}

RecordNode* NodeOf(void* record) { return static_cast<RecordNode*>(record) - 1; }

}  // namespace

ObjectTable* CreateObjectTable(int32_t recordSize, int32_t initialSlots, CloseCallback close) {
  auto* table = static_cast<ObjectTable*>(ProgramHeapAlloc(sizeof(ObjectTable)));
  if (table == nullptr) return nullptr;
  table->slots = static_cast<void**>(ProgramHeapAlloc(sizeof(void*) * initialSlots));
  if (table->slots == nullptr) {
    ProgramHeapFree(table);
    return nullptr;
  }
  table->recordSize = recordSize;
  table->growthStep = initialSlots;
  table->slotCount = initialSlots;
  table->close = close;
  return table;
}

void* ObtainRecord(ObjectTable* table, ObjectValue number) {
  if (number == AUTO_NUMBER) return PushRecord(&table->listHead, table->recordSize);
  if (number < 0) return nullptr;
  if (number >= table->slotCount) {
    ObjectValue wanted = number + table->growthStep;
    if (wanted > INT32_MAX) return nullptr;
    auto* slots = static_cast<void**>(
        ProgramHeapReAlloc(table->slots, sizeof(void*) * static_cast<std::size_t>(wanted)));
    if (slots == nullptr) return nullptr;
    table->slots = slots;
    table->slotCount = static_cast<int32_t>(wanted);
  }
  void* record = table->slots[number];
  if (record != nullptr) {
    // Whatever had this number is closed first; the owners' close operations
    // do nothing for a number that holds no open object.
    if (table->close != nullptr) table->close(number);
    return record;
  }
  record = ProgramHeapAlloc(static_cast<std::size_t>(table->recordSize));
  table->slots[number] = record;
  return record;
}

void* FindLiveRecord(ObjectTable* table, ObjectValue value) {
  if (IsNumber(table, value)) {
    void* record = table->slots[value];
    return record != nullptr && IsLive(record) ? record : nullptr;
  }
  // A value outside the slots is an identity only if the list holds it: a
  // number beyond the slots that was never used must not be dereferenced.
  if (IsLiveObject(table, value) == 0) return nullptr;
  void* record = reinterpret_cast<void*>(value);
  return IsLive(record) ? record : nullptr;
}

ObjectValue IsLiveObject(ObjectTable* table, ObjectValue value) {
  if (value < 0) return 0;
  if (IsNumber(table, value)) {
    return reinterpret_cast<ObjectValue>(FindLiveRecord(table, value));
  }
  for (RecordNode* node = table->listHead; node != nullptr; node = node->older) {
    if (reinterpret_cast<ObjectValue>(RecordOf(node)) == value) return value;
  }
  return 0;
}

void ReleaseRecord(ObjectTable* table, ObjectValue value) {
  if (IsNumber(table, value)) {
    void* record = table->slots[value];
    if (record != nullptr) std::memset(record, 0, static_cast<std::size_t>(table->recordSize));
    return;
  }
  if (value < 0) return;
  UnlinkRecord(&table->listHead, reinterpret_cast<void*>(value));
}

void BeginEnumeration(ObjectTable* table) {
  table->slotCursor = 0;
  RecordNode* oldest = table->listHead;
  while (oldest != nullptr && oldest->older != nullptr) oldest = oldest->older;
  table->listCursor = oldest;
}

void* NextLiveObject(ObjectTable* table, ObjectValue* value) {
  while (table->slotCursor >= 0 && table->slotCursor < table->slotCount) {
    int32_t number = table->slotCursor++;
    void* record = table->slots[number];
    if (record != nullptr && IsLive(record)) {
      *value = number;
      return record;
    }
  }
  RecordNode* node = table->listCursor;
  if (node == nullptr) return nullptr;
  table->listCursor = node->newer;
  void* record = RecordOf(node);
  *value = reinterpret_cast<ObjectValue>(record);
  return record;
}

void CloseAllObjects(ObjectTable* table) {
  if (table->close == nullptr) return;
  BeginEnumeration(table);
  ObjectValue value;
  while (NextLiveObject(table, &value) != nullptr) table->close(value);
}

void* PushRecord(RecordNode** head, int32_t recordSize) {
  auto* node = static_cast<RecordNode*>(
      ProgramHeapAlloc(sizeof(RecordNode) + static_cast<std::size_t>(recordSize)));
  if (node == nullptr) return nullptr;
  node->older = *head;
  if (*head != nullptr) (*head)->newer = node;
  *head = node;
  return RecordOf(node);
}

void UnlinkRecord(RecordNode** head, void* record) {
  RecordNode* node = NodeOf(record);
  if (node == *head) {
    *head = node->older;
    if (node->older != nullptr) node->older->newer = nullptr;
  } else {
    if (node->newer != nullptr) node->newer->older = node->older;
    if (node->older != nullptr) node->older->newer = node->newer;
  }
  ProgramHeapFree(node);
}

}  // namespace runtime
