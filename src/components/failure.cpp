#include "components/failure.h"

#include <new>

namespace etapas {

RaisedError ComoError(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const RaisedError& r) {
    return r;
  } catch (const std::bad_alloc&) {
    return RaisedError(errnum::kOutOfMemory, "Out of memory");
  } catch (const std::out_of_range& x) {
    return RaisedError(errnum::kSubscriptOutOfRange, std::string("Subscript out of range: ") + x.what());
  } catch (const std::invalid_argument& x) {
    return RaisedError(errnum::kInvalidArgument, std::string("Invalid procedure call or argument: ") + x.what());
  } catch (const std::exception& x) {
    return RaisedError(errnum::kAutomationError, x.what());
  }
}

bool Pasos::Ejecutar() {
  siguiente_ = 0;
  while (siguiente_ < pasos_.size()) {
    const size_t actual = siguiente_;
    siguiente_ = actual + 1;
    int respuesta;
    try {
      pasos_[actual]();
      continue;
    } catch (const std::exception&) {
      // ProcesoTerminado (the process ending) is not a failure: it passes through.
      respuesta = reportador_ ? reportador_(ComoError(std::current_exception())) : kAbandonar;
    }
    if (respuesta == kReintentar) {
      siguiente_ = actual;
    } else if (respuesta != kIgnorar) {
      if (liberar_) liberar_();
      return false;
    }
  }
  return true;
}

}  // namespace etapas
