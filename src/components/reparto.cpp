#include "components/reparto.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "components/platform.h"

namespace etapas {
namespace {

// What a worker hands to the run's thread, and waits for.
struct Pedido {
  const std::function<void()>* f = nullptr;
  size_t trabajo = 0;
  bool enTurno = false, hecho = false;
  std::exception_ptr error;
  std::unique_ptr<std::function<void()>> propia;  // a request nobody waits for owns its work
};

struct Corrida {
  std::mutex m;
  std::condition_variable cv;
  std::deque<Pedido*> pedidos;
  std::vector<char> terminado;
  std::vector<size_t> sinHacer;  // each job's requests not waited for and not yet done
  size_t siguiente = 0;          // the next job to start
  size_t primeroAbierto = 0;     // every job before it has ended
  size_t activos = 0;
  std::atomic<bool> detenido{false};
  std::exception_ptr error;

  // A job's turn comes once every job before it has ended and had all its requests done.
  void Avanzar() {
    while (primeroAbierto < terminado.size() && terminado[primeroAbierto] && sinHacer[primeroAbierto] == 0)
      ++primeroAbierto;
  }
};

thread_local Corrida* tCorrida = nullptr;
thread_local size_t tTrabajo = 0;
// The run the calling thread is serving (a run inside it works serially).
thread_local bool tSirviendo = false;
// The stop of a run made serially on the calling thread.
thread_local bool* tParadaSerial = nullptr;

// On a worker, the operator's boxes wait for the worker's turn and events are the run's
// thread's to let through; elsewhere everything goes as it would.
class PlataformaEnReparto : public PlataformaDelegada {
 public:
  using PlataformaDelegada::PlataformaDelegada;
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    if (!tCorrida) return interior_.MsgBox(prompt, style, title);
    // A box with only OK asks nothing: the worker goes on, the box comes in its turn.
    if ((style & 0x0F) == mb::kOk) {
      EnTurnoSinEsperar([this, prompt, style, title] { interior_.MsgBox(prompt, style, title); });
      return mb::kAnsOk;
    }
    int respuesta = 0;
    EnTurno([&] { respuesta = interior_.MsgBox(prompt, style, title); });
    return respuesta;
  }
  void DoEvents() override {
    if (!tCorrida) interior_.DoEvents();
  }
  std::optional<int32_t> ElegirColor(int32_t actual) override {
    std::optional<int32_t> color;
    EnTurno([&] { color = interior_.ElegirColor(actual); });
    return color;
  }
};

void Pedir(const std::function<void()>& f, bool enTurno) {
  Corrida* c = tCorrida;
  if (!c) {
    f();
    return;
  }
  Pedido p;
  p.f = &f;
  p.trabajo = tTrabajo;
  p.enTurno = enTurno;
  std::unique_lock lock(c->m);
  c->pedidos.push_back(&p);
  c->cv.notify_all();
  c->cv.wait(lock, [&] { return p.hecho; });
  lock.unlock();
  if (p.error) std::rethrow_exception(p.error);
}

void Trabajador(Corrida& c, const std::function<void(size_t)>& trabajo) {
  tCorrida = &c;
  for (;;) {
    size_t i = 0;
    {
      std::lock_guard lock(c.m);
      if (c.detenido || c.siguiente >= c.terminado.size()) break;
      i = c.siguiente++;
    }
    tTrabajo = i;
    try {
      trabajo(i);
    } catch (...) {
      std::lock_guard lock(c.m);
      if (!c.error) c.error = std::current_exception();
    }
    std::lock_guard lock(c.m);
    c.terminado[i] = 1;
    c.Avanzar();
    c.cv.notify_all();
  }
  std::lock_guard lock(c.m);
  --c.activos;
  c.cv.notify_all();
}

AvanceReparto Avance(const Corrida& c) {
  AvanceReparto a;
  a.total = c.terminado.size();
  for (size_t i = 0; i < c.siguiente; ++i) {
    if (c.terminado[i])
      ++a.hechos;
    else
      a.enCurso.push_back(i);
  }
  return a;
}

}  // namespace

bool EnTrabajador() { return tCorrida != nullptr; }

bool RepartoDetenido() { return tCorrida ? tCorrida->detenido.load() : tParadaSerial && *tParadaSerial; }

void DetenerReparto() {
  if (tCorrida)
    tCorrida->detenido = true;
  else if (tParadaSerial)
    *tParadaSerial = true;
}

void EnCasa(const std::function<void()>& f) { Pedir(f, false); }

void EnTurno(const std::function<void()>& f) { Pedir(f, true); }

void EnTurnoSinEsperar(std::function<void()> f) {
  Corrida* c = tCorrida;
  if (!c) {
    f();
    return;
  }
  auto* p = new Pedido;
  p->propia = std::make_unique<std::function<void()>>(std::move(f));
  p->f = p->propia.get();
  p->trabajo = tTrabajo;
  p->enTurno = true;
  std::lock_guard lock(c->m);
  ++c->sinHacer[p->trabajo];
  c->pedidos.push_back(p);
  c->cv.notify_all();
}

void Repartir(size_t n, size_t hilos, const std::function<void(size_t)>& trabajo,
              const std::function<bool(const AvanceReparto&)>& avance) {
  if (n == 0) return;
  if (tCorrida || tSirviendo || hilos <= 1 || n == 1) {
    AvanceReparto a;
    a.total = n;
    bool parada = false;
    bool* const exterior = std::exchange(tParadaSerial, tCorrida ? tParadaSerial : &parada);
    struct Restaurar {
      bool* p;
      ~Restaurar() { tParadaSerial = p; }
    } restaurar{exterior};
    for (size_t i = 0; i < n && !RepartoDetenido(); ++i) {
      a.hechos = i;
      a.enCurso = {i};
      if (avance && avance(a)) return;
      trabajo(i);
    }
    a.hechos = n;
    a.enCurso.clear();
    if (avance) avance(a);
    return;
  }
  Corrida c;
  c.terminado.assign(n, 0);
  c.sinHacer.assign(n, 0);
  const size_t cuantos = std::min(n, hilos);
  c.activos = cuantos;
  Plataforma& anterior = Platform();
  PlataformaEnReparto plataforma(anterior);
  SetPlatform(&plataforma);
  tSirviendo = true;
  std::vector<std::thread> hilosEnMarcha;
  hilosEnMarcha.reserve(cuantos);
  // Not c.activos: the first workers may already be ending while the others start.
  for (size_t h = 0; h < cuantos; ++h) hilosEnMarcha.emplace_back(Trabajador, std::ref(c), std::cref(trabajo));

  auto ultimoAvance = std::chrono::steady_clock::time_point{};
  size_t hechosVistos = 0;
  std::unique_lock lock(c.m);
  for (;;) {
    // A request in turn, or any home request, is served first; the oldest first.
    auto it = std::find_if(c.pedidos.begin(), c.pedidos.end(),
                           [&](const Pedido* p) { return !p->enTurno || p->trabajo == c.primeroAbierto; });
    if (it != c.pedidos.end()) {
      Pedido* p = *it;
      c.pedidos.erase(it);
      lock.unlock();
      try {
        (*p->f)();
      } catch (...) { p->error = std::current_exception(); }
      lock.lock();
      if (p->propia) {
        if (p->error && !c.error) c.error = p->error;
        --c.sinHacer[p->trabajo];
        c.Avanzar();
        delete p;
      } else {
        p->hecho = true;
      }
      c.cv.notify_all();
      continue;
    }
    if (c.activos == 0 && c.pedidos.empty()) break;
    const AvanceReparto a = Avance(c);
    const auto ahora = std::chrono::steady_clock::now();
    if (avance && (a.hechos != hechosVistos || ahora - ultimoAvance >= std::chrono::milliseconds(100))) {
      hechosVistos = a.hechos;
      ultimoAvance = ahora;
      lock.unlock();
      bool parar = true;
      try {
        parar = avance(a);
      } catch (...) {
        std::lock_guard guard(c.m);
        if (!c.error) c.error = std::current_exception();
      }
      lock.lock();
      if (parar) c.detenido = true;
      continue;
    }
    c.cv.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  for (auto& h : hilosEnMarcha) h.join();
  tSirviendo = false;
  SetPlatform(&anterior);
  if (c.error) std::rethrow_exception(c.error);
  if (avance) avance(Avance(c));
}

}  // namespace etapas
