#pragma once
// Detail lines of Adoptra: a course section with its adopted books, and the
// problem reports of a lookup. Each builder is made fresh for one display.
#include "tessel/data_array.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"

class CAdoptraFill : public CFillDataBase {
 public:
  // No lines: a course needs its books, given to FillCourse.
  virtual bool Fill(const void* pData);
  // The section's lines as the record holds them (not trimmed), then eleven
  // lines per book. False, and no line, without a book list.
  bool FillCourse(CAdoptraInfo course, const CDataArray<CAdoptraDetailInfo>* pBooks);

  static QString GetRequestTypeText(int requestType);

 private:
  void AddBook(const CAdoptraDetailInfo& book);
};

class CProblemFill : public CFillDataBase {
 public:
  // Five lines per report. False, and no line, without a report list.
  virtual bool Fill(const CDataArray<CProblemInfo>* pProblems);
};
