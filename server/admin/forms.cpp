#include "server/admin/forms.h"

#include <cctype>
#include <charconv>

namespace storeserver::admin {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// '+' is a blank and %XX a byte; a broken escape is kept as typed.
std::string decoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += char(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool sameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A parameter of a header value such as `form-data; name="file"`, unquoted.
std::string parameter(std::string_view header, std::string_view name) {
  std::size_t start = header.find(';');
  while (start != std::string_view::npos) {
    const std::size_t end = header.find(';', start + 1);
    const std::string_view part = trimmed(header.substr(start + 1, end - start - 1));
    const std::size_t equals = part.find('=');
    if (equals != std::string_view::npos && sameWord(trimmed(part.substr(0, equals)), name)) {
      std::string_view value = trimmed(part.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
    start = end;
  }
  return {};
}

std::string_view mediaType(std::string_view contentType) {
  return trimmed(contentType.substr(0, contentType.find(';')));
}

// One part of a multipart body: its headers, a blank line, its bytes.
bool readPart(std::string_view part, Fields& fields) {
  const std::size_t headerEnd = part.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) return false;
  std::string name;
  for (std::string_view headers = part.substr(0, headerEnd); !headers.empty();) {
    const std::size_t lineEnd = headers.find("\r\n");
    const std::string_view line = headers.substr(0, lineEnd);
    headers = lineEnd == std::string_view::npos ? std::string_view{} : headers.substr(lineEnd + 2);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && sameWord(trimmed(line.substr(0, colon)), "Content-Disposition"))
      name = parameter(line.substr(colon + 1), "name");
  }
  if (name.empty()) return false;
  fields.set(std::move(name), std::string(part.substr(headerEnd + 4)));
  return true;
}

std::optional<Fields> parseMultipart(std::string_view contentType, std::string_view body) {
  const std::string boundary = parameter(contentType, "boundary");
  if (boundary.empty()) return std::nullopt;
  const std::string delimiter = "--" + boundary;
  if (!body.starts_with(delimiter)) return std::nullopt;
  Fields fields;
  std::size_t at = delimiter.size();
  while (body.substr(at, 2) == "\r\n") {
    const std::size_t next = body.find("\r\n" + delimiter, at + 2);
    if (next == std::string_view::npos || !readPart(body.substr(at + 2, next - at - 2), fields)) return std::nullopt;
    at = next + 2 + delimiter.size();
  }
  if (body.substr(at, 2) != "--") return std::nullopt;
  return fields;
}

}  // namespace

const std::string& Fields::operator[](std::string_view name) const {
  static const std::string kNone;
  const auto found = values_.find(name);
  return found == values_.end() ? kNone : found->second;
}

std::optional<std::int64_t> Fields::number(std::string_view name) const {
  const std::string& text = (*this)[name];
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Fields parseUrlEncoded(std::string_view text) {
  Fields fields;
  while (!text.empty()) {
    const std::size_t end = text.find('&');
    const std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    fields.set(decoded(pair.substr(0, equals)),
               equals == std::string_view::npos ? std::string() : decoded(pair.substr(equals + 1)));
  }
  return fields;
}

Fields queryOf(std::string_view target) {
  const std::size_t question = target.find('?');
  return question == std::string_view::npos ? Fields{} : parseUrlEncoded(target.substr(question + 1));
}

std::optional<Fields> parseForm(std::string_view contentType, std::string_view body) {
  const std::string_view type = mediaType(contentType);
  if (sameWord(type, "application/x-www-form-urlencoded")) return parseUrlEncoded(body);
  if (sameWord(type, "multipart/form-data")) return parseMultipart(contentType, body);
  return std::nullopt;
}

std::string cookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    const std::string_view pair = trimmed(header.substr(0, end));
    header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
  }
  return {};
}

std::string_view hostOfUrl(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  const std::string_view rest = url.substr(scheme + 3);
  return rest.substr(0, rest.find_first_of("/?#"));
}

}  // namespace storeserver::admin
