#pragma once
// An array of records by value, filled from a reply of fixed-length records.
#include <QList>
#include <QString>

#include "tessel/records.h"
#include "wire/framing.h"

template <class TRecord>
class CDataArray {
 public:
  int GetSize() const { return int(m_items.size()); }
  bool IsEmpty() const { return m_items.isEmpty(); }
  const TRecord& GetAt(int i) const { return m_items.at(i); }
  const TRecord& operator[](int i) const { return m_items.at(i); }
  void SetAt(int i, const TRecord& record) { m_items[i] = record; }
  void Add(const TRecord& record) { m_items.append(record); }
  void RemoveAll() { m_items.clear(); }

  // Appends the reply's records after those already held (it does not empty
  // the array). Every call appends at least one record: an empty reply gives
  // one record made from an empty text. A reply of more records than any real
  // list (the exchange already refuses such record lists) counts as empty, so
  // no reply can build a huge array.
  void FillFromResponse(const QString& reply) {
    const QString accepted = ReplyRecordCount(reply) > kMaxReplyRecords ? QString() : reply;
    TRecord working;
    for (const wire::RecordSpan& span : wire::cutRecords(Utf16View(accepted), std::size_t(working.GetDataSize()))) {
      working.SetFields(accepted.mid(qsizetype(span.offset), qsizetype(span.length)));
      m_items.append(working);
    }
  }

 private:
  QList<TRecord> m_items;
};
