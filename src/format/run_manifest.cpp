#include "format/run_manifest.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace kolvaprof {
namespace {

using JsonWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void writeString(JsonWriter& json, std::string_view text) {
  json.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void writeLayout(JsonWriter& json, const RecordLayout& layout) {
  json.StartObject();
  json.Key("encoding");
  writeString(json, encodingName(layout.encoding));
  for (const RecordFieldForm& form : kRecordFields) {
    writeString(json, form.key);
    json.Bool(layout.*form.member);
  }
  if (layout.encoding != RecordEncoding::Text) {
    json.Key("recordBytes");
    json.Uint64(layout.bytes());
  }
  json.EndObject();
}

// Reads fields by name, keeping the first thing that is missing or of the
// wrong type.
class Fields {
 public:
  Fields(const rapidjson::Value& object, std::string where, std::string& error)
      : object(object), where(std::move(where)), error(error) {}

  const rapidjson::Value* get(const char* key, bool (rapidjson::Value::*is)() const, const char* type) {
    const auto found = object.FindMember(key);
    if (found == object.MemberEnd() || !(found->value.*is)()) {
      if (error.empty()) error = where + key + " is missing or not " + type;
      return nullptr;
    }
    return &found->value;
  }
  std::string text(const char* key) {
    const rapidjson::Value* value = get(key, &rapidjson::Value::IsString, "a string");
    return value != nullptr ? std::string(value->GetString(), value->GetStringLength()) : std::string();
  }
  bool flag(const char* key) {
    const rapidjson::Value* value = get(key, &rapidjson::Value::IsBool, "true or false");
    return value != nullptr && value->GetBool();
  }
  int64_t integer(const char* key) {
    const rapidjson::Value* value = get(key, &rapidjson::Value::IsInt64, "a whole number");
    return value != nullptr ? value->GetInt64() : 0;
  }
  uint64_t count(const char* key) {
    const rapidjson::Value* value = get(key, &rapidjson::Value::IsUint64, "a count");
    return value != nullptr ? value->GetUint64() : 0;
  }
  std::vector<std::string> texts(const char* key) {
    std::vector<std::string> out;
    const rapidjson::Value* value = get(key, &rapidjson::Value::IsArray, "a list");
    if (value == nullptr) return out;
    for (const rapidjson::Value& item : value->GetArray()) {
      if (!item.IsString()) {
        if (error.empty()) error = where + key + " holds something other than strings";
        return out;
      }
      out.emplace_back(item.GetString(), item.GetStringLength());
    }
    return out;
  }
  const rapidjson::Value* child(const char* key) { return get(key, &rapidjson::Value::IsObject, "an object"); }

 private:
  const rapidjson::Value& object;
  std::string where;
  std::string& error;
};

RecordLayout readLayout(const rapidjson::Value& object, std::string& error) {
  Fields fields(object, "recordLayout.", error);
  RecordLayout layout;
  const std::string encoding = fields.text("encoding");
  if (encoding == encodingName(RecordEncoding::Text)) {
    layout.encoding = RecordEncoding::Text;
  } else if (encoding == encodingName(RecordEncoding::Compact)) {
    layout.encoding = RecordEncoding::Compact;
  } else if (encoding != encodingName(RecordEncoding::Binary) && error.empty()) {
    error = "recordLayout.encoding is none of text, binary and compact: " + encoding;
  }
  for (const RecordFieldForm& form : kRecordFields) layout.*form.member = fields.flag(std::string(form.key).c_str());
  // A field this reader does not know changes the size of every record.
  for (const auto& member : object.GetObject()) {
    const std::string_view key(member.name.GetString(), member.name.GetStringLength());
    bool known = key == "encoding" || key == "recordBytes";
    for (const RecordFieldForm& form : kRecordFields) known = known || key == form.key;
    if (!known && member.value.IsBool() && member.value.GetBool() && error.empty())
      error = "recordLayout has a field this reader does not know: " + std::string(key);
  }
  if (layout.encoding != RecordEncoding::Text && error.empty() &&
      fields.count("recordBytes") != layout.bytes())
    error = "recordLayout.recordBytes does not match its fields";
  return layout;
}

}  // namespace

std::string writeManifest(const RunManifest& manifest) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.SetIndent(' ', 2);
  json.StartObject();
  json.Key("formatVersion");
  json.Int(manifest.formatVersion);
  json.Key("agentVersion");
  writeString(json, manifest.agentVersion);
  json.Key("engine");
  writeString(json, manifest.engine);
  json.Key("complete");
  json.Bool(manifest.complete);
  json.Key("start");
  json.StartObject();
  json.Key("stamp");
  writeString(json, manifest.startStamp);
  json.Key("epochNanoseconds");
  json.Int64(manifest.startEpochNanoseconds);
  json.Key("timeBase");
  writeString(json, manifest.timeBase);
  json.EndObject();
  json.Key("recordLayout");
  writeLayout(json, manifest.layout);
  json.Key("jvm");
  json.StartObject();
  json.Key("vendor");
  writeString(json, manifest.jvm.vendor);
  json.Key("name");
  writeString(json, manifest.jvm.name);
  json.Key("version");
  writeString(json, manifest.jvm.version);
  json.Key("pid");
  json.Int64(manifest.jvm.pid);
  json.Key("commandLine");
  json.StartArray();
  for (const std::string& argument : manifest.jvm.commandLine) writeString(json, argument);
  json.EndArray();
  json.EndObject();
  json.Key("settings");
  json.StartObject();
  for (const RunManifest::Setting& setting : manifest.settings) {
    writeString(json, setting.key);
    if (!setting.list) {
      writeString(json, setting.values.empty() ? std::string() : setting.values.front());
      continue;
    }
    json.StartArray();
    for (const std::string& value : setting.values) writeString(json, value);
    json.EndArray();
  }
  json.EndObject();
  if (manifest.end) {
    json.Key("end");
    json.StartObject();
    json.Key("records");
    json.Uint64(manifest.end->records);
    json.Key("threads");
    json.Uint64(manifest.end->threads);
    json.Key("methodsKnown");
    json.Uint64(manifest.end->methodsKnown);
    json.Key("methodsInIndex");
    json.Uint64(manifest.end->methodsInIndex);
    json.Key("failedFiles");
    json.StartArray();
    for (const std::string& file : manifest.end->failedFiles) writeString(json, file);
    json.EndArray();
    json.EndObject();
  }
  json.EndObject();
  std::string text(buffer.GetString(), buffer.GetSize());
  text.push_back('\n');
  return text;
}

ManifestReading parseManifest(std::string_view text) {
  rapidjson::Document document;
  document.Parse(text.data(), text.size());
  if (document.HasParseError())
    return {std::nullopt, std::string("not JSON (") + rapidjson::GetParseError_En(document.GetParseError()) +
                              " at byte " + std::to_string(document.GetErrorOffset()) + ")"};
  if (!document.IsObject()) return {std::nullopt, "not a JSON object"};
  std::string error;
  Fields top(document, "", error);
  RunManifest manifest;
  manifest.formatVersion = static_cast<int>(top.integer("formatVersion"));
  if (error.empty() && (manifest.formatVersion < 1 || manifest.formatVersion > kManifestFormatVersion))
    return {std::nullopt, "format version " + std::to_string(manifest.formatVersion) + " is not known here"};
  manifest.agentVersion = top.text("agentVersion");
  manifest.engine = top.text("engine");
  manifest.complete = top.flag("complete");
  if (const rapidjson::Value* start = top.child("start")) {
    Fields fields(*start, "start.", error);
    manifest.startStamp = fields.text("stamp");
    manifest.startEpochNanoseconds = fields.integer("epochNanoseconds");
    manifest.timeBase = fields.text("timeBase");
  }
  if (const rapidjson::Value* layout = top.child("recordLayout")) manifest.layout = readLayout(*layout, error);
  if (const rapidjson::Value* jvm = top.child("jvm")) {
    Fields fields(*jvm, "jvm.", error);
    manifest.jvm.vendor = fields.text("vendor");
    manifest.jvm.name = fields.text("name");
    manifest.jvm.version = fields.text("version");
    manifest.jvm.pid = fields.integer("pid");
    manifest.jvm.commandLine = fields.texts("commandLine");
  }
  if (const rapidjson::Value* settings = top.child("settings")) {
    for (const auto& member : settings->GetObject()) {
      RunManifest::Setting setting{std::string(member.name.GetString(), member.name.GetStringLength()), {}, false};
      Fields fields(*settings, "settings.", error);
      if (member.value.IsArray()) {
        setting.list = true;
        setting.values = fields.texts(setting.key.c_str());
      } else {
        setting.values.push_back(fields.text(setting.key.c_str()));
      }
      manifest.settings.push_back(std::move(setting));
    }
  }
  if (manifest.complete) {
    if (const rapidjson::Value* end = top.child("end")) {
      Fields fields(*end, "end.", error);
      RunManifest::End figures;
      figures.records = fields.count("records");
      figures.threads = fields.count("threads");
      figures.methodsKnown = fields.count("methodsKnown");
      figures.methodsInIndex = fields.count("methodsInIndex");
      figures.failedFiles = fields.texts("failedFiles");
      manifest.end = figures;
    }
  }
  if (!error.empty()) return {std::nullopt, error};
  return {std::move(manifest), ""};
}

}  // namespace kolvaprof
