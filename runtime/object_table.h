#ifndef WEIGH_RUNTIME_OBJECT_TABLE_H_
#define WEIGH_RUNTIME_OBJECT_TABLE_H_

#include <cstdint>

namespace runtime {

// An object number (0 or more, chosen by the caller) or a dynamic identity
// (issued by a table). Wide enough to carry an address.
using ObjectValue = std::intptr_t;

// Asks ObtainRecord for a new dynamic identity; the owners' close operations
// also take it to mean every object.
constexpr ObjectValue AUTO_NUMBER = -1;

// Closes the object under a number or identity. Owners pass their own close
// operation.
using CloseCallback = void (*)(ObjectValue value);

// A node of a record list: two links, then the record itself. The newest
// node is the head.
struct RecordNode {
  RecordNode* older;
  RecordNode* newer;
};

// The open objects of one kind. A record is a zero-filled block whose first
// field is the object's platform handle: the record is live while that
// handle is non-zero. Records numbered by the caller sit in `slots`; records
// with dynamic identities sit in the record list, and the identity is the
// record's address.
struct ObjectTable {
  int32_t recordSize;
  int32_t growthStep;
  int32_t slotCount;
  void** slots;
  RecordNode* listHead;
  CloseCallback close;
  int32_t slotCursor;
  RecordNode* listCursor;
};

// Makes a table for records of `recordSize` bytes (at least a handle's
// size) with `initialSlots` numbered slots; the slot array later grows to the
// requested number plus `initialSlots`. `close` may be nullptr. Memory comes
// from the program heap. Returns nullptr when no memory can be had.
ObjectTable* CreateObjectTable(int32_t recordSize, int32_t initialSlots, CloseCallback close);

// Returns the record to fill in. For AUTO_NUMBER, a new zero-filled dynamic
// record whose address is the new identity. For a number, that number's
// record, after the close callback has closed whatever used the number.
// Returns nullptr when no memory can be had (or for other negative values).
void* ObtainRecord(ObjectTable* table, ObjectValue number);

// Returns the live record for a number or an identity, or nullptr. Any
// value is safe: an identity is looked up in the record list before it is
// used, so a number beyond the slots is not taken for an address.
void* FindLiveRecord(ObjectTable* table, ObjectValue value);

// Returns non-zero when `value` denotes a live object: the record's address
// for a number, the identity itself for an identity. Safe for any value:
// identities are looked up in the record list, never dereferenced.
ObjectValue IsLiveObject(ObjectTable* table, ObjectValue value);

// Frees the record of a closed object: a numbered record is zeroed and stays
// in its slot; a dynamic record is unlinked and freed.
void ReleaseRecord(ObjectTable* table, ObjectValue value);

// Calls the close callback for every live object: numbers in increasing
// order, then dynamic objects from oldest to newest. The callback may
// release the record it is given. Nothing happens without a callback.
void CloseAllObjects(ObjectTable* table);

// Starts an enumeration of the live objects (one at a time per table).
void BeginEnumeration(ObjectTable* table);

// Returns the next live object's record (numbered) or identity (dynamic) and
// stores its number or identity in `value`; nullptr at the end. The cursor
// has moved past the object already, so the caller may release it.
void* NextLiveObject(ObjectTable* table, ObjectValue* value);

// Allocates a node with a zero-filled record of `recordSize` bytes from the
// program heap, makes it the list's newest and returns the record, or nullptr
// when no memory can be had.
void* PushRecord(RecordNode** head, int32_t recordSize);

// Unlinks the node of `record` from the list and frees it.
void UnlinkRecord(RecordNode** head, void* record);

// Returns the record carried by `node`.
inline void* RecordOf(RecordNode* node) { return node + 1; }

}  // namespace runtime

#endif  // WEIGH_RUNTIME_OBJECT_TABLE_H_
