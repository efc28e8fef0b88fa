#pragma once
// Objects made and dropped once per statement (a query's rows, its stream) keep a few of
// their blocks for the next ones instead of going back to the allocator each time: a
// lookup costs little more than the engine's own step.
#include <cstddef>
#include <new>

namespace etapas::engine {

template <class T, int N = 4>
struct Recycled {
  static void* operator new(std::size_t n) {
    Slots& s = Cache();
    if (n == sizeof(T) && s.count > 0) return s.blocks[--s.count];
    return ::operator new(n);
  }
  static void operator delete(void* p, std::size_t n) {
    Slots& s = Cache();
    if (n == sizeof(T) && s.count < N) {
      s.blocks[s.count++] = p;
      return;
    }
    ::operator delete(p);
  }

 private:
  struct Slots {
    void* blocks[N];
    int count = 0;
    ~Slots() {
      while (count > 0) ::operator delete(blocks[--count]);
    }
  };
  static Slots& Cache() {
    thread_local Slots s;
    return s;
  }
};

}  // namespace etapas::engine
