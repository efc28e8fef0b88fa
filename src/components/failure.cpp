#include "components/failure.h"

#include <new>

namespace etapas {

RaisedError ComoError(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const RaisedError& r) { return r; } catch (const std::bad_alloc&) {
    return RaisedError(errnum::kOutOfMemory, "Out of memory");
  } catch (const std::out_of_range& x) {
    return RaisedError(errnum::kSubscriptOutOfRange, std::string("Subscript out of range: ") + x.what());
  } catch (const std::invalid_argument& x) {
    return RaisedError(errnum::kInvalidArgument, std::string("Invalid procedure call or argument: ") + x.what());
  } catch (const std::exception& x) { return RaisedError(errnum::kAutomationError, x.what()); }
}

void ListaPasos::Paso(std::function<void()> paso) {
  Item item;
  item.accion = std::move(paso);
  items_.push_back(std::move(item));
}

void ListaPasos::Sublista(const ListaPasos& lista) {
  Rama([&lista] { return &lista; });
}

void ListaPasos::Rama(std::function<const ListaPasos*()> elegir) {
  Item item;
  item.elegir = std::move(elegir);
  items_.push_back(std::move(item));
}

void ListaPasos::Mientras(std::function<bool()> condicion, const ListaPasos& cuerpo) {
  Item item;
  item.condicion = std::move(condicion);
  item.cuerpo = &cuerpo;
  items_.push_back(std::move(item));
}

void ListaPasos::PorCada(std::function<size_t()> cuantos, size_t& indice, const ListaPasos& cuerpo) {
  Item item;
  item.condicion = [cuantos = std::move(cuantos), &indice] { return indice < cuantos(); };
  item.alEmpezar = [&indice] { indice = 0; };
  item.alAvanzar = [&indice] { ++indice; };
  item.cuerpo = &cuerpo;
  item.ignorarTermina = true;
  items_.push_back(std::move(item));
}

Pasos::Respuesta Pasos::Intentar(const std::function<void()>& accion) {
  int respuesta;
  try {
    accion();
    return Respuesta::kHecha;
  } catch (const std::exception&) {
    // ProcesoTerminado (the process ending) is not a failure: it passes through.
    respuesta = reportador_ ? reportador_(ComoError(std::current_exception())) : kAbandonar;
  }
  if (respuesta == kReintentar) {
    // The step runs again from its start: an end it asked for before failing is dropped.
    terminar_ = terminarLista_ = false;
    return Respuesta::kRepetir;
  }
  return respuesta == kIgnorar ? Respuesta::kSeguir : Respuesta::kSalir;
}

Pasos::Fin Pasos::Correr(const ListaPasos& lista) {
  for (const Item& item : lista.items_) {
    if (item.cuerpo) {
      const Fin fin = CorrerBucle(item);
      if (fin != Fin::kSigue) return fin;
      continue;
    }
    const ListaPasos* elegida = nullptr;
    const std::function<void()> elegir = [&] { elegida = item.elegir(); };
    const std::function<void()>& accion = item.accion ? item.accion : elegir;
    Respuesta r;
    while ((r = Intentar(accion)) == Respuesta::kRepetir) elegida = nullptr;
    if (r == Respuesta::kSalir) return Fin::kAbandonada;
    // A choice that failed and was ignored runs no list.
    if (r == Respuesta::kSeguir) elegida = nullptr;
    if (terminar_) return Fin::kTerminada;
    if (terminarLista_) {
      terminarLista_ = false;
      return Fin::kSigue;
    }
    if (elegida) {
      const Fin fin = Correr(*elegida);
      if (fin != Fin::kSigue) return fin;
    }
  }
  return Fin::kSigue;
}

Pasos::Fin Pasos::CorrerBucle(const Item& bucle) {
  if (bucle.alEmpezar) bucle.alEmpezar();
  for (;;) {
    bool otraVuelta = false;
    Respuesta r;
    while ((r = Intentar([&] { otraVuelta = bucle.condicion(); })) == Respuesta::kRepetir) {}
    if (r == Respuesta::kSalir) return Fin::kAbandonada;
    // Ignored, the condition goes on with the step after it: the body (PorCada's count
    // cannot say which element comes next, so there the loop ends).
    if (r == Respuesta::kSeguir) otraVuelta = !bucle.ignorarTermina;
    if (terminar_) return Fin::kTerminada;
    if (!otraVuelta) return Fin::kSigue;
    const Fin fin = Correr(*bucle.cuerpo);
    if (fin != Fin::kSigue) return fin;
    if (bucle.alAvanzar) bucle.alAvanzar();
  }
}

bool Pasos::Ejecutar() {
  terminar_ = terminarLista_ = false;
  if (Correr(*this) != Fin::kAbandonada) return true;
  if (liberar_) liberar_();
  return false;
}

}  // namespace etapas
