#include "wire/layouts.h"

#include <stdexcept>

namespace wire {

RecordLayout::RecordLayout(std::string_view tag, std::vector<FieldSpec> fields)
    : tag_(tag), fields_(std::move(fields)), length_(kHeaderWidth) {
  if (tag_.size() != kTagWidth) throw std::logic_error("record tag must have 3 characters");
  for (const FieldSpec& f : fields_) {
    offsets_.push_back(length_);
    length_ += f.width;
  }
}

std::size_t RecordLayout::indexOf(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].name == name) return i;
  throw std::out_of_range("no field named " + std::string(name) + " in record " + std::string(tag_));
}

namespace layouts {

const RecordLayout& session() {
  static const RecordLayout layout("SES", {
                                              {"session_id", 8, FieldKind::Integer},
                                              {"description", 40, FieldKind::Text, Overflow::Ellipsis},
                                              {"student_id_required", 1, FieldKind::Integer},
                                              {"condition_check", 1, FieldKind::Integer},
                                              {"within_percent", 3, FieldKind::Integer},
                                              {"tran_warning_qty", 4, FieldKind::Integer},
                                              {"tran_max_qty", 4, FieldKind::Integer},
                                          });
  return layout;
}

const RecordLayout& location() {
  static const RecordLayout layout("LOC", {
                                              {"store_num", 4, FieldKind::Integer},
                                              {"location_id", 6, FieldKind::Integer},
                                              {"code", 8, FieldKind::Text},
                                              {"name", 40, FieldKind::Text, Overflow::Ellipsis},
                                          });
  return layout;
}

const RecordLayout& aidAccount() {
  static const RecordLayout layout("AID", {
                                              {"student_id", 20, FieldKind::Text},
                                              {"agency_name", 40, FieldKind::Text, Overflow::Ellipsis},
                                              // Refused rather than cut: a clerk copies it onto the charge slip, and a
                                              // shortened number names another agency or none.
                                              {"agency_number", 12, FieldKind::Text},
                                              {"start_date", 10, FieldKind::Text},
                                              {"expire_date", 10, FieldKind::Text},
                                              {"total_balance", 10, FieldKind::Money},
                                              {"credit_limit", 10, FieldKind::Money},
                                              {"amount_available", 10, FieldKind::Money},
                                          });
  return layout;
}

// The term, department, course and section texts come back in the detail
// query, so the server keeps them within these widths.
const RecordLayout& adoption() {
  static const RecordLayout layout("ADO", {
                                              {"store_num", 4, FieldKind::Integer},
                                              {"campus", 20, FieldKind::Text, Overflow::Ellipsis},
                                              {"term", 12, FieldKind::Text},
                                              {"department", 8, FieldKind::Text},
                                              {"course", 8, FieldKind::Text},
                                              {"section", 6, FieldKind::Text},
                                              {"term_open", 1, FieldKind::Integer},
                                          });
  return layout;
}

const RecordLayout& adoptionDetail() {
  static const RecordLayout layout("ADD",
                                   {
                                       {"sku", 8, FieldKind::Integer},
                                       {"cat_isbn", 13, FieldKind::Text},
                                       {"description", 40, FieldKind::Text, Overflow::Ellipsis},  // the title, cut
                                       {"new_price", 8, FieldKind::Money},
                                       {"used_price", 8, FieldKind::Money},
                                       {"new_on_hand", 5, FieldKind::Integer},
                                       {"used_on_hand", 5, FieldKind::Integer},
                                       {"request_type", 1, FieldKind::Integer},
                                       {"problem", 1, FieldKind::Integer},
                                       {"store_num", 4, FieldKind::Integer},
                                       // The whole title, after every field a handheld of the first layout
                                       // reads: such a handheld steps through records by the reply's own length
                                       // and never looks past store_num, so it keeps showing description.
                                       {"title", 60, FieldKind::Text, Overflow::Ellipsis},
                                   });
  return layout;
}

// Its tag is the marker that starts the problem list of a lookup reply.
const RecordLayout& adoptionProblem() {
  static const RecordLayout layout("PRB", {
                                              {"term", 12, FieldKind::Text},
                                              {"sku", 8, FieldKind::Integer},
                                              {"reason", 30, FieldKind::Text, Overflow::Ellipsis},
                                              {"comment", 60, FieldKind::Text, Overflow::Ellipsis},
                                          });
  return layout;
}

const RecordLayout& slDetail() {
  static const RecordLayout layout("SLD", {
                                              {"item_id", 12, FieldKind::Text},
                                              {"sku", 8, FieldKind::Integer},
                                              {"book_key", 12, FieldKind::Text},
                                              {"description", 60, FieldKind::Text, Overflow::Ellipsis},
                                              {"isbn", 13, FieldKind::Text},
                                              {"imprint", 30, FieldKind::Text, Overflow::Ellipsis},
                                              {"edition", 4, FieldKind::Text},
                                              {"copyright", 4, FieldKind::Text},
                                              {"binding", 12, FieldKind::Text, Overflow::Ellipsis},
                                              {"stolen", 1, FieldKind::Integer},
                                              {"guide", 1, FieldKind::Integer},
                                          });
  return layout;
}

const RecordLayout& slPurchase() {
  static const RecordLayout layout("SLP", {
                                              {"purchaser", 30, FieldKind::Text},
                                              {"ost_purchaser", 1, FieldKind::Integer},
                                              {"buy_qty", 5, FieldKind::Text},  // a number, or "*" for no limit
                                              {"bought_qty", 5, FieldKind::Integer},
                                              {"need_qty", 5, FieldKind::Text},  // a number from 0, or "*"
                                              {"buy_price", 8, FieldKind::Money},
                                              {"alt_price", 8, FieldKind::Money},
                                              {"retail_price", 8, FieldKind::Money},
                                              {"listed_price", 8, FieldKind::Money},
                                              {"status", 20, FieldKind::Text, Overflow::Ellipsis},
                                              {"condition", 60, FieldKind::Text, Overflow::Ellipsis},
                                              {"condition_check", 1, FieldKind::Integer},
                                          });
  return layout;
}

const RecordLayout& slStolenItem() {
  static const RecordLayout layout(
      "SLS", {
                 {"student_id", 20, FieldKind::Text},
                 {"student_name", 40, FieldKind::Text, Overflow::Ellipsis},
                 {"stolen", 40, FieldKind::Text, Overflow::Ellipsis},  // when and where it was reported
                 {"comment", 60, FieldKind::Text, Overflow::Ellipsis},
                 {"sku", 8, FieldKind::Integer},
                 {"book_key", 12, FieldKind::Text},
                 {"description", 60, FieldKind::Text, Overflow::Ellipsis},
                 {"isbn", 13, FieldKind::Text},
                 {"edition", 4, FieldKind::Text},
                 {"copyright", 4, FieldKind::Text},
                 {"binding", 12, FieldKind::Text, Overflow::Ellipsis},
             });
  return layout;
}

const RecordLayout& product() {
  static const RecordLayout layout("PRD", {
                                              {"sku", 8, FieldKind::Integer},
                                              {"isbn", 13, FieldKind::Text},
                                              {"description", 60, FieldKind::Text, Overflow::Ellipsis},
                                              {"author", 40, FieldKind::Text, Overflow::Ellipsis},
                                              {"imprint", 30, FieldKind::Text, Overflow::Ellipsis},
                                              {"edition", 4, FieldKind::Text},
                                              {"binding", 12, FieldKind::Text, Overflow::Ellipsis},
                                              {"new_price", 8, FieldKind::Money},
                                              {"used_price", 8, FieldKind::Money},
                                          });
  return layout;
}

const RecordLayout& inventory() {
  static const RecordLayout layout("INV", {
                                              {"store_num", 4, FieldKind::Integer},
                                              {"sku", 8, FieldKind::Integer},
                                              {"new_on_hand", 6, FieldKind::Integer},
                                              {"used_on_hand", 6, FieldKind::Integer},
                                              {"on_order", 6, FieldKind::Integer},
                                              {"location", 20, FieldKind::Text, Overflow::Ellipsis},
                                              {"last_received", 10, FieldKind::Text},  // YYYY-MM-DD, blank when never
                                          });
  return layout;
}

const RecordLayout& receipt() {
  static const RecordLayout layout("RCT", {
                                              {"receipt", 10, FieldKind::Text},
                                              {"store_num", 4, FieldKind::Integer},
                                              {"student_id", 20, FieldKind::Text},
                                              {"opened_on", 10, FieldKind::Text},  // YYYY-MM-DD
                                          });
  return layout;
}

const RecordLayout& ticketLine() {
  static const RecordLayout layout("TLN", {
                                              {"line", 5, FieldKind::Integer},
                                              {"session_id", 8, FieldKind::Integer},
                                              {"item_id", 12, FieldKind::Text},
                                              {"purchaser", 30, FieldKind::Text},
                                              {"qty", 6, FieldKind::Integer},
                                              {"price", 8, FieldKind::Money},
                                          });
  return layout;
}

const RecordLayout& openTicket() {
  static const RecordLayout layout("OTK", {
                                              {"receipt", 10, FieldKind::Text},
                                              {"student_id", 20, FieldKind::Text},
                                              {"opened_on", 10, FieldKind::Text},  // YYYY-MM-DD
                                              {"lines", 5, FieldKind::Integer},
                                              {"total", 12, FieldKind::Money},  // may be negative: returns
                                          });
  return layout;
}

}  // namespace layouts
}  // namespace wire
