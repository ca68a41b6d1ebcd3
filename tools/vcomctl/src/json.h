#pragma once
// A small writer of compact JSON: commas and string escapes are its job,
// structure is the caller's.

#include <cstdint>
#include <string>
#include <vector>

namespace vcomctl {

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& string(const std::string& text);
    JsonWriter& number(std::int64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& null();

    const std::string& text() const { return out_; }

private:
    void beforeValue();

    std::string out_;
    // Per open container: whether it holds an element yet.
    std::vector<bool> hasElement_;
    bool afterKey_ = false;
};

// The text as a JSON string literal, quotes included.
std::string jsonQuote(const std::string& text);

}  // namespace vcomctl
