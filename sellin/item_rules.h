#pragma once
// The store's buying policy for one ticket line: the quantity and price rules
// the buyer's choice must pass before the line goes to the server, and the way
// they read numbers out of the record texts.
#include <QString>

class CSLSessionInfo;
class CTicketItem;
class QWidget;

// The caption of Sellin's message boxes.
QString SellinCaption();

// The longest integer prefix after leading white space, with an optional sign
// ("  -3x" -3, "*3" 0); beyond an int it reads as the int's limit of that
// sign, so it never wraps.
int LeadingInteger(const QString& text);

// Exact cents of a dollar text as a record or a typed price holds it
// ("0012.50" 1250, "-3.00" -300); 0 when it is no amount.
qint64 CentsOf(const QString& dollars);
// Cents as the ticket shows an amount: "$ 12.50", "$ -3.00".
QString DollarText(qint64 cents);

// Runs the shared rules (wire/item_rules.h) in their order on the line; others is the quantity of the
// same book on the ticket's other lines. A refusal, warning or question is
// shown over parent. True when the line may be sent to the server.
bool CheckItemRules(const CTicketItem& item, const CSLSessionInfo& session, int others, QWidget* parent);
