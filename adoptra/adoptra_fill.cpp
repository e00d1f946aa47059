#include "adoptra/adoptra_fill.h"

bool CAdoptraFill::Fill(const void*) { return true; }

bool CAdoptraFill::FillCourse(CAdoptraInfo course, const CDataArray<CAdoptraDetailInfo>* pBooks) {
  if (!pBooks) return false;
  AddLine(QStringLiteral("Campus:"), course.m_strCampus, false);
  AddLine(QStringLiteral("Term:"), course.m_strTerm, false);
  AddLine(QStringLiteral("Department:"), course.m_strDepartment, false);
  AddLine(QStringLiteral("Course:"), course.m_strCourse, false);
  AddLine(QStringLiteral("Section:"), course.m_strSection, false);
  AddLine(QString(), QString(), false);
  for (int i = 0; i < pBooks->GetSize(); ++i) AddBook(pBooks->GetAt(i));
  return true;
}

void CAdoptraFill::AddBook(const CAdoptraDetailInfo& book) {
  AddLine(QStringLiteral("SKU:"), book.m_nSKU);
  AddLine(QStringLiteral("CatISBN:"), book.m_strCatISBN, false);
  AddLine(QStringLiteral("New Price:"), book.m_strNewPrice, true);
  AddLine(QStringLiteral("Used Price:"), book.m_strUsedPrice, true);
  AddLine(QStringLiteral("New On Hand:"), book.m_nNewOnHand);
  AddLine(QStringLiteral("Used On Hand:"), book.m_nUsedOnHand);
  AddLine(QStringLiteral("Request Type:"), GetRequestTypeText(book.m_nRequestType), false);
  AddLine(QStringLiteral("Problem:"), GetYesNoValue(book.m_nProblem), false);
  AddLine(QStringLiteral("Store Num:"), book.m_nStoreNum);
  AddLine(QString(), book.m_strDesc, false);
  AddLine(QString(), QString(), false);
}

QString CAdoptraFill::GetRequestTypeText(int requestType) {
  switch (requestType) {
    case 1: return QStringLiteral("Required");
    case 2: return QStringLiteral("Recommended");
    case 3: return QStringLiteral("Optional");
    default: return QString();
  }
}

bool CProblemFill::Fill(const CDataArray<CProblemInfo>* pProblems) {
  if (!pProblems) return false;
  for (int i = 0; i < pProblems->GetSize(); ++i) {
    const CProblemInfo& problem = pProblems->GetAt(i);
    AddLine(QStringLiteral("Term:"), problem.m_strTerm, false);
    AddLine(QStringLiteral("SKU:"), problem.m_nSKU);
    AddLine(QStringLiteral("Reason:"), problem.m_strReason, false);
    AddLine(QString(), problem.m_strComment, false);
    AddLine(QString(), QString(), false);
  }
  return true;
}
