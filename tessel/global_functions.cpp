#include "tessel/global_functions.h"

#include <QComboBox>
#include <QHash>
#include <QWidget>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "tessel/detail_dlg.h"
#include "tessel/item_lookup_fill.h"
#include "tessel/login_dlg.h"
#include "tessel/scan_dlg.h"
#include "tessel/scanner.h"
#include "tessel/socket_message.h"
#include "tessel/tessel_config.h"
#include "tessel/trim.h"
#include "wire/money.h"

namespace {

const QString kUserName = QStringLiteral("UserName");
const QString kPassword = QStringLiteral("Password");
const QString kKeepPassword = QStringLiteral("KeepPassword");

// Passwords typed in this run, by program.
QHash<int, QString>& sessionPasswords() {
  static QHash<int, QString> passwords;
  return passwords;
}

QString knownPassword(int appType) {
  const QString typed = sessionPasswords().value(appType);
  if (!typed.isEmpty()) return typed;
  return platform::Profile::readString(CGlobalFunctions::GetAppName(appType), kPassword);
}

}  // namespace

QString CGlobalFunctions::GetAppName(int appType) {
  switch (appType) {
    case 0: return QStringLiteral("Sellin");
    case 1: return QStringLiteral("Adoptra");
    case 2: return QStringLiteral("Stipendo");
    case 4: return QStringLiteral("StoreDefaults");
    default: return QStringLiteral("App%1").arg(appType);
  }
}

bool CGlobalFunctions::IsPasswordSet(int appType) { return !knownPassword(appType).isEmpty(); }

bool CGlobalFunctions::DoOnLogIn(int appType, QWidget* parent) {
  const QString section = GetAppName(appType);
  CLogInDlg dlg(section, CTesselConfig::GetServer(), parent);
  dlg.m_strUser = platform::Profile::readString(section, kUserName);
  dlg.m_bRemember = platform::Profile::readInt(section, kKeepPassword, 0) != 0;
  if (dlg.m_bRemember) dlg.m_strPassword = knownPassword(appType);
  if (dlg.runModal() != platform::IDOK) return false;

  platform::Profile::writeString(section, kUserName, dlg.m_strUser);
  platform::Profile::writeInt(section, kKeepPassword, dlg.m_bRemember ? 1 : 0);
  if (dlg.m_bRemember) platform::Profile::writeString(section, kPassword, dlg.m_strPassword);
  else platform::Profile::remove(section, kPassword);
  sessionPasswords().insert(appType, dlg.m_strPassword);
  return true;
}

void CGlobalFunctions::CleanPassword(int appType) {
  sessionPasswords().remove(appType);
  const QString section = GetAppName(appType);
  if (platform::Profile::readInt(section, kKeepPassword, 0) == 0) platform::Profile::remove(section, kPassword);
}

bool CGlobalFunctions::FillSocketMsg(int appType, CSocketMessage& msg, QWidget* window) {
  const QString server = CTesselConfig::GetServer();
  if (server.isEmpty()) {
    platform::messageBox(window,
                         QStringLiteral("No store server is set. Start the program with --server ADDRESS, or set "
                                        "Server in the Tessel section of %1.")
                             .arg(platform::Profile::fileName()),
                         GetAppName(appType), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
    return false;
  }
  const QString user = platform::Profile::readString(GetAppName(appType), kUserName);
  const QString password = knownPassword(appType);
  if (user.isEmpty() || password.isEmpty()) return false;
  msg.SetServer(server);
  msg.SetCredentials(user, password);
  return true;
}

bool CGlobalFunctions::GetQLCPacket(int /*appType*/, CSocketMessage* msg, QString& text) {
  if (!msg) return false;
  return msg->LogIn(text);
}

void CGlobalFunctions::DisplayDetailDlg(const CDataLines& lines, QWidget* parent) {
  CDetailDlg dlg(lines, parent);
  dlg.runModal();
}

void CGlobalFunctions::FillLocationCombo(QComboBox* combo, const CDataArray<CLocationInfo>& locations, int storeNum) {
  if (!combo) return;
  combo->clear();
  for (int i = 0; i < locations.GetSize(); ++i)
    platform::addListEntry(combo, locations[i].m_strName, locations[i].m_nStoreNum);
  int selected = combo->count() > 0 ? 0 : -1;
  for (int row = 0; row < combo->count(); ++row)
    if (platform::listEntryData(combo, row) == storeNum) {
      selected = row;
      break;
    }
  combo->setCurrentIndex(selected);
}

QString CGlobalFunctions::TrimString(const QString& text, bool bNumber) {
  if (!bNumber) return TrimLeading(text);
  QString trimmed = text.trimmed();
  const bool negative = trimmed.startsWith(QLatin1Char('-'));
  if (negative) trimmed.remove(0, 1);
  qsizetype zeros = 0;
  while (zeros + 1 < trimmed.size() && trimmed.at(zeros) == QLatin1Char('0') && trimmed.at(zeros + 1).isDigit())
    ++zeros;
  trimmed.remove(0, zeros);
  return negative ? QLatin1Char('-') + trimmed : trimmed;
}

QString CGlobalFunctions::TrimString(int value) { return QString::number(value); }

QString CGlobalFunctions::TrimSKU(int sku) { return sku > 0 ? QString::number(sku) : QString(); }

void CGlobalFunctions::DoOnItemLookupDlg(CSocketMessage* /*msg*/, int storeNum,
                                         const CDataArray<CProductInfo>& products,
                                         const CDataArray<CInventoryInfo>& inventory, QWidget* parent) {
  CItemLookupFill fill;
  fill.Fill(storeNum, products, inventory);
  CDetailDlg dlg(fill.GetDataArr(), parent, QStringLiteral("Item Lookup"));
  dlg.runModal();
}

bool CGlobalFunctions::ShowScanDlg(const QString& prompt, QString& code, CScanner* pScanner, QWidget* parent) {
  CScanDlg dlg(prompt, parent);
  dlg.m_strCode = code;
  if (pScanner) pScanner->LetScansThrough(&dlg);
  const int result = dlg.runModal();
  if (pScanner) pScanner->LetScansThrough(nullptr);
  if (result != platform::IDOK) return false;
  code = dlg.m_strCode;
  return true;
}

QString CGlobalFunctions::VerifyDollarAmt(const QString& text) {
  return QString::fromStdString(wire::formatCents(wire::readDollarAmount(text.toStdString()).value_or(0)));
}
