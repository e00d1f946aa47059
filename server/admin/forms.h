#pragma once
// What a browser sends the back office, read into plain values: the fields of
// a URL's query or a form (urlencoded or multipart), and cookies.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace storeserver::admin {

// A form's fields by name; of a name sent twice the last is kept. Files
// uploaded with a multipart form are fields too, holding the file's bytes.
class Fields {
 public:
  // The field's value, empty when it was not sent.
  const std::string& operator[](std::string_view name) const;
  bool has(std::string_view name) const { return values_.contains(std::string(name)); }
  // A whole number field; nullopt when missing or not one.
  std::optional<std::int64_t> number(std::string_view name) const;
  void set(std::string name, std::string value) { values_[std::move(name)] = std::move(value); }

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

// "a=1&b=x+y%21": the fields of a query string or an urlencoded form.
Fields parseUrlEncoded(std::string_view text);
// The query string of a request target ("/admin/x?a=1"), read.
Fields queryOf(std::string_view target);
// The body of a POST, urlencoded or multipart/form-data. nullopt when the type
// is neither or the body cannot be read.
std::optional<Fields> parseForm(std::string_view contentType, std::string_view body);

// A cookie's value from a Cookie header; empty when absent.
std::string cookieValue(std::string_view header, std::string_view name);

// The host[:port] part of an absolute URL ("https://h:8443/x" gives "h:8443").
std::string_view hostOfUrl(std::string_view url);

}  // namespace storeserver::admin
