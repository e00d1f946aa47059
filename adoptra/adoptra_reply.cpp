#include "adoptra/adoptra_reply.h"

CAdoptraReply SplitAdoptraReply(const QString& reply) {
  const qsizetype marker = reply.indexOf(QStringLiteral("\rPRB"));
  if (marker < 0) return {reply, {}, false};
  return {reply.left(marker), reply.mid(marker + 1), true};
}
