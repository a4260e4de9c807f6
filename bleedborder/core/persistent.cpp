#include "bleedborder/core/persistent.h"

#include "bleedborder/core/exceptions.h"

namespace bleedborder {

void TPersistent::AssignTo(TPersistent* dest) {
  std::string_view destName = dest ? dest->ClassName() : "nil";
  RaiseMsg<EConvertError>(Msg::AssignError, {std::string_view(ClassName()), destName});
}

void TPersistent::DefineProperties(TFiler&) {}

void TPersistent::TakeFrom(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  RaiseMsg<EConvertError>(Msg::AssignError, {std::string_view("nil"), std::string_view(ClassName())});
}

}  // namespace bleedborder
