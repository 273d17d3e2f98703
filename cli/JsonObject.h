// One JSON object on one line, as every JSON line of dbzip is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "PrintedName.h"

// One JSON object on one line, its members in the order added.
class JsonObject {
 public:
  // A string member; beside it "<key>_base64" holds the exact bytes when
  // they are not UTF-8, since the string then has U+FFFD for each byte that
  // is not.
  JsonObject& Text(const char* key, std::string_view text) {
    Key(key) += JsonString(text);
    if (!IsUtf8(text)) Key((std::string(key) + "_base64").c_str()) += '"' + Base64(text) + '"';
    return *this;
  }
  JsonObject& TextOrNull(const char* key, std::string_view text) {
    if (text.empty()) return Null(key);
    return Text(key, text);
  }
  JsonObject& Number(const char* key, uint64_t n) {
    Key(key) += std::to_string(n);
    return *this;
  }
  JsonObject& Seconds(const char* key, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    Key(key) += text;
    return *this;
  }
  JsonObject& Bool(const char* key, bool b) {
    Key(key) += b ? "true" : "false";
    return *this;
  }
  JsonObject& Null(const char* key) {
    Key(key) += "null";
    return *this;
  }
  std::string Line() const { return text_ + '}'; }

 private:
  std::string& Key(const char* key) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(key) + ':';
    return text_;
  }
  std::string text_ = "{";
};
