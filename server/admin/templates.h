#pragma once
// The back office's templates (templates/*.html, *.css), built into the
// program. Text is escaped as HTML wherever a template names it with {{x}}.
#include <string>
#include <string_view>

#include <kainjow/mustache.hpp>

namespace storeserver::admin {

// What a template is rendered with: texts, flags, lists of objects.
using View = kainjow::mustache::data;
using ViewList = kainjow::mustache::list;

// A file of templates/ by name ("status.html"); throws std::logic_error for a
// name there is none of, a fault of the program.
std::string_view embeddedFile(std::string_view name);

// The template rendered. It may name another with {{>name}} (without
// ".html"); {{>page}} names pageTemplate. Throws std::logic_error when a
// template is not valid.
std::string render(std::string_view templateName, const View& view, std::string_view pageTemplate = {});

}  // namespace storeserver::admin
