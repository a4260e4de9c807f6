#pragma once
// The base class of copyable and streamable objects.
#include <functional>
#include <string>

#include "bleedborder/export.h"

namespace bleedborder {

class TStream;

// Declares the extra streamed properties of an object: a property of raw bytes
// is read with one function and written with another, and is written only
// when hasData says so.
class BLEEDBORDER_EXPORT TFiler {
 public:
  virtual ~TFiler() = default;
  // The ancestor value the object is compared with, or none.
  class TPersistent* Ancestor = nullptr;
  virtual void DefineBinaryProperty(const std::string& name, std::function<void(TStream&)> read,
                                    std::function<void(TStream&)> write, bool hasData) = 0;
};

class BLEEDBORDER_EXPORT TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual const char* ClassName() const { return "TPersistent"; }

  // Copies this object into dest; by default fails with EConvertError
  // "Cannot assign a %s to a %s".
  virtual void AssignTo(TPersistent* dest);
  // Declares extra streamed properties; by default none.
  virtual void DefineProperties(TFiler& filer);
  // Takes over source's settings; by default asks source to assign itself to
  // this object, and with no source fails with the same message, naming "nil".
  virtual void TakeFrom(TPersistent* source);
};

}  // namespace bleedborder
