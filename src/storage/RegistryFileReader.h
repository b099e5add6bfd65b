// The reading of a registry key file before anything of it reaches the
// registry: the nested Key levels, and the type and bytes each Value of the
// innermost level stands for. Portable: no Windows header, so that the host
// runs it under the sanitizers and a fuzz target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/ValueContent.h"

class XmlReader;

// The type code and the bytes as the registry holds them. (Not the
// registry's own RegistryData, which holds what a value read gave.)
using KeyFileData = std::pair<std::uint32_t, std::string>;

// What a reading finds, in the order of the file.
class CRegistryFileSink {
 public:
  virtual ~CRegistryFileSink() = default;
  // A Key named `name` opened one level below the open ones (the first
  // level is the root's name). False stops the reading.
  virtual bool LevelOpened(const std::string& name) = 0;
  virtual void LevelClosed() = 0;
  // A value of the innermost open level, named as the file names it
  // ("(Default)" included); nothing when the element says nothing the
  // registry can hold. Values outside every Key are not handed over.
  virtual void Value(const std::string& name, const std::optional<KeyFileData>& data) = 0;
};

class CRegistryFileReader {
 public:
  // `unfold` replaces the placeholders of a Content.
  CRegistryFileReader(CRegistryFileSink& sink, UnfoldPlaceholders unfold)
      : m_sink(sink), m_unfold(std::move(unfold)) {}

  // Hands one token of the markup reader on; false once the sink stopped
  // the reading.
  bool Token(const XmlReader& reader);

 private:
  // What one Value element collected from its attributes.
  struct CValue {
    std::string name, content, typeName;
    // The exact type and bytes, written for values that Content and Type
    // can't restore exactly; either present means both must be usable.
    std::optional<std::string> typeCode, data;

    // Keeps the room of the texts for the next value.
    void Clear();
  };

  void StartElement(const std::string& element);
  void Attribute(const std::string& element, const std::string& name, const std::string& text);
  void EndElement(const std::string& element);
  std::optional<KeyFileData> ValueData() const;

  CRegistryFileSink& m_sink;
  UnfoldPlaceholders m_unfold;
  // Unescaped texts of the current token, whose room serves every token.
  std::string m_element, m_name, m_text;
  // One flag per open Key element: whether its Name opened a level. A Key
  // without a Name, or with a second Name, must not shift the levels.
  std::vector<bool> m_openKeys;
  size_t m_levels = 0;
  CValue m_value;
  bool m_ok = true;
};
