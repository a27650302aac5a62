// A small JSON Schema validator for the keywords the scene file's schema
// uses (type, properties, required, additionalProperties, minProperties,
// items, prefixItems, minItems, maxItems, minLength, enum, minimum, maximum, exclusiveMinimum,
// exclusiveMaximum, anyOf, $ref into $defs). A keyword it does not know is
// reported as a fault of the schema, so the schema cannot silently check
// less than it appears to.
#pragma once

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace zeltest {

class SchemaValidator {
 public:
  using json = nlohmann::json;
  explicit SchemaValidator(json schema) : root_(std::move(schema)) {}

  // The faults of `value`, each "path: why"; empty when it conforms.
  std::vector<std::string> validate(const json& value) const {
    std::vector<std::string> faults;
    check(root_, value, "$", faults);
    return faults;
  }

 private:
  const json& resolve(const json& schema, std::vector<std::string>& faults) const {
    if (!schema.contains("$ref")) return schema;
    const std::string ref = schema["$ref"];
    const std::string prefix = "#/$defs/";
    if (ref.rfind(prefix, 0) != 0 || !root_["$defs"].contains(ref.substr(prefix.size()))) {
      faults.push_back("schema: unresolved $ref " + ref);
      static const json empty = json::object();
      return empty;
    }
    return root_["$defs"][ref.substr(prefix.size())];
  }

  static bool has_type(const json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    if (type == "number") return value.is_number();
    if (type == "integer")
      return value.is_number_integer() ||
             (value.is_number_float() &&
              value.get<double>() ==
                  static_cast<double>(static_cast<long long>(value.get<double>())));
    return false;
  }

  void check(const json& schema_in, const json& value, const std::string& path,
             std::vector<std::string>& faults) const {
    const json& schema = resolve(schema_in, faults);
    static const std::set<std::string> known = {"$schema",
                                                "$id",
                                                "$ref",
                                                "$defs",
                                                "title",
                                                "description",
                                                "default",
                                                "type",
                                                "properties",
                                                "required",
                                                "additionalProperties",
                                                "minProperties",
                                                "items",
                                                "prefixItems",
                                                "minItems",
                                                "maxItems",
                                                "minLength",
                                                "enum",
                                                "minimum",
                                                "maximum",
                                                "exclusiveMinimum",
                                                "exclusiveMaximum",
                                                "anyOf"};
    for (const auto& item : schema.items())
      if (known.count(item.key()) == 0) faults.push_back("schema: unknown keyword " + item.key());
    if (schema.contains("type")) {
      const json& t = schema["type"];
      const bool ok = t.is_string() ? has_type(value, t.get<std::string>())
                                    : std::any_of(t.begin(), t.end(), [&](const json& one) {
                                        return has_type(value, one.get<std::string>());
                                      });
      if (!ok) {
        faults.push_back(path + ": expected " + t.dump() + ", found " + value.dump());
        return;
      }
    }
    if (schema.contains("enum")) {
      const json& options = schema["enum"];
      if (std::find(options.begin(), options.end(), value) == options.end())
        faults.push_back(path + ": " + value.dump() + " is not one of " + options.dump());
    }
    if (value.is_number()) {
      const double v = value.get<double>();
      if (schema.contains("minimum") && v < schema["minimum"].get<double>())
        faults.push_back(path + ": below the minimum");
      if (schema.contains("maximum") && v > schema["maximum"].get<double>())
        faults.push_back(path + ": above the maximum");
      if (schema.contains("exclusiveMinimum") && v <= schema["exclusiveMinimum"].get<double>())
        faults.push_back(path + ": not above the exclusive minimum");
      if (schema.contains("exclusiveMaximum") && v >= schema["exclusiveMaximum"].get<double>())
        faults.push_back(path + ": not below the exclusive maximum");
    }
    if (value.is_string() && schema.contains("minLength") &&
        value.get<std::string>().size() < schema["minLength"].get<size_t>())
      faults.push_back(path + ": shorter than " + schema["minLength"].dump());
    if (value.is_array()) {
      if (schema.contains("minItems") && value.size() < schema["minItems"].get<size_t>())
        faults.push_back(path + ": fewer than " + schema["minItems"].dump() + " items");
      if (schema.contains("maxItems") && value.size() > schema["maxItems"].get<size_t>())
        faults.push_back(path + ": more than " + schema["maxItems"].dump() + " items");
      // prefixItems checks the first items each by its own schema, items
      // the rest.
      const size_t first = schema.contains("prefixItems") ? schema["prefixItems"].size() : 0;
      for (size_t i = 0; i < value.size() && i < first; ++i)
        check(schema["prefixItems"][i], value[i], path + "[" + std::to_string(i) + "]", faults);
      if (schema.contains("items"))
        for (size_t i = first; i < value.size(); ++i)
          check(schema["items"], value[i], path + "[" + std::to_string(i) + "]", faults);
    }
    if (value.is_object()) {
      if (schema.contains("minProperties") && value.size() < schema["minProperties"].get<size_t>())
        faults.push_back(path + ": fewer than " + schema["minProperties"].dump() + " keys");
      if (schema.contains("required"))
        for (const auto& key : schema["required"])
          if (!value.contains(key.get<std::string>()))
            faults.push_back(path + ": missing " + key.dump());
      const json none = json::object();
      const json& properties = schema.contains("properties") ? schema["properties"] : none;
      for (const auto& item : value.items()) {
        const std::string where = path + "." + item.key();
        if (properties.contains(item.key())) {
          check(properties[item.key()], item.value(), where, faults);
        } else if (schema.contains("additionalProperties")) {
          const json& extra = schema["additionalProperties"];
          if (extra.is_boolean()) {
            if (!extra.get<bool>()) faults.push_back(where + ": not allowed here");
          } else {
            check(extra, item.value(), where, faults);
          }
        }
      }
    }
    if (schema.contains("anyOf")) {
      bool any = false;
      for (const auto& option : schema["anyOf"]) {
        std::vector<std::string> inner;
        check(option, value, path, inner);
        any = any || inner.empty();
      }
      if (!any) faults.push_back(path + ": matches none of the choices for " + value.dump());
    }
  }

  json root_;
};

}  // namespace zeltest
