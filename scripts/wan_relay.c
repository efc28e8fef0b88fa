/*
 * A TCP relay that delays every byte by a fixed time in each direction, for scripts/wan.sh.
 * The benchmarks must see points of sale tens of milliseconds away, and the usual tool for
 * that, tc's netem queueing discipline, is missing from some kernels (this development
 * machine's among them). wan.sh runs this relay inside the network namespace of the
 * points-of-sale server instead: it accepts on the namespace's veth address and forwards to
 * the server on the namespace's loopback, and each chunk of bytes read at time t is written
 * at t + DELAY (never one sleep after another, so throughput and many connections are not
 * serialised), in order within each direction. A connection's first bytes towards the server
 * are held one round trip more, because the kernel completes the TCP handshake with the
 * client at once where a real network would take a round trip. Half-closes are passed on
 * (delayed like the data); a pair closes when both directions have ended or either fails.
 *
 * usage: wan_relay LISTEN_ADDR PORT TARGET_ADDR TARGET_PORT DELAY_MS PIDFILE
 * The pid file is written once the relay listens.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

enum { READ_SIZE = 65536, QUEUE_LIMIT = 4 << 20, MAX_EVENTS = 256 };

struct chunk {
  struct chunk *next;
  int64_t due; /* ns, CLOCK_MONOTONIC */
  size_t len, off; /* len 0: the source's end of stream */
  char data[];
};

struct pair;

struct end {
  struct pair *pair; /* NULL for the listening socket and the timer */
  int fd;
  uint32_t events; /* what epoll is asked for */
};

struct dir {
  struct end *from, *to;
  struct chunk *head, *tail;
  size_t queued;
  int64_t floor; /* no chunk is due before this: keeps the order */
  int eof_read, shut, blocked;
};

struct pair {
  struct end client, server;
  struct dir up, down; /* up: client to server */
  int connected, dead;
  struct pair *next, *prev, *next_dead;
};

static int64_t delay_ns;
static int epfd, tfd;
static struct pair *pairs, *dead;
static int64_t armed = -1;

static int64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void die(const char *what) {
  perror(what);
  exit(1);
}

static void set_events(struct end *e, uint32_t events) {
  if (e->fd < 0 || e->events == events) return;
  struct epoll_event ev = {.events = events, .data.ptr = e};
  if (epoll_ctl(epfd, EPOLL_CTL_MOD, e->fd, &ev) == 0) e->events = events;
}

static void free_dir(struct dir *d) {
  while (d->head) {
    struct chunk *c = d->head;
    d->head = c->next;
    free(c);
  }
  d->tail = NULL;
  d->queued = 0;
}

static void kill_pair(struct pair *p) {
  if (p->dead) return;
  p->dead = 1;
  close(p->client.fd);
  close(p->server.fd);
  p->client.fd = p->server.fd = -1;
  free_dir(&p->up);
  free_dir(&p->down);
  if (p->prev) p->prev->next = p->next; else pairs = p->next;
  if (p->next) p->next->prev = p->prev;
  p->next_dead = dead; /* freed after the events of this round, which may still name it */
  dead = p;
}

static int push(struct dir *d, const char *data, size_t len, int64_t now) {
  struct chunk *c = malloc(sizeof *c + len);
  if (!c) return -1;
  c->next = NULL;
  c->len = len;
  c->off = 0;
  c->due = now + delay_ns;
  if (c->due < d->floor) c->due = d->floor;
  d->floor = c->due;
  if (len) memcpy(c->data, data, len);
  if (d->tail) d->tail->next = c; else d->head = c;
  d->tail = c;
  d->queued += len;
  return 0;
}

/* One read from the source; level-triggered epoll calls again while there is more. */
static void pull(struct pair *p, struct dir *d, int64_t now) {
  static char buf[READ_SIZE];
  if (d->eof_read) return;
  ssize_t n = read(d->from->fd, buf, sizeof buf);
  if (n > 0) {
    if (push(d, buf, (size_t)n, now) < 0) kill_pair(p);
  } else if (n == 0) {
    d->eof_read = 1;
    if (push(d, NULL, 0, now) < 0) kill_pair(p);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    kill_pair(p);
  }
}

/* Writes what is due; returns the time the next chunk falls due, or -1. */
static int64_t flush(struct pair *p, struct dir *d, int64_t now) {
  if (d->to == &p->server && !p->connected) return -1;
  while (d->head && !d->blocked) {
    struct chunk *c = d->head;
    if (c->due > now) return c->due;
    if (c->len == 0) {
      shutdown(d->to->fd, SHUT_WR);
      d->shut = 1;
    } else {
      ssize_t n = send(d->to->fd, c->data + c->off, c->len - c->off, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          d->blocked = 1;
          return -1;
        }
        if (errno == EINTR) continue;
        kill_pair(p);
        return -1;
      }
      c->off += (size_t)n;
      d->queued -= (size_t)n;
      if (c->off < c->len) continue;
    }
    d->head = c->next;
    if (!d->head) d->tail = NULL;
    free(c);
  }
  return -1;
}

static uint32_t wanted(struct pair *p, struct end *e) {
  struct dir *out = e == &p->client ? &p->down : &p->up; /* towards e */
  struct dir *in = e == &p->client ? &p->up : &p->down;  /* from e */
  uint32_t ev = 0;
  if (!in->eof_read && in->queued < QUEUE_LIMIT) ev |= EPOLLIN;
  if (out->blocked || (e == &p->server && !p->connected)) ev |= EPOLLOUT;
  return ev;
}

static void nodelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

static void add_end(struct end *e) {
  struct epoll_event ev = {.events = e->events, .data.ptr = e};
  if (epoll_ctl(epfd, EPOLL_CTL_ADD, e->fd, &ev) < 0) die("epoll_ctl");
}

static void accept_all(int lfd, const struct sockaddr_in *target) {
  for (;;) {
    int cfd = accept4(lfd, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (cfd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) perror("accept");
      return;
    }
    int sfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct pair *p = sfd < 0 ? NULL : calloc(1, sizeof *p);
    if (!p) {
      perror("relay connection");
      close(cfd);
      if (sfd >= 0) close(sfd);
      continue;
    }
    nodelay(cfd);
    nodelay(sfd);
    int rc = connect(sfd, (const struct sockaddr *)target, sizeof *target);
    if (rc < 0 && errno != EINPROGRESS) {
      perror("connect");
      close(cfd);
      close(sfd);
      free(p);
      continue;
    }
    p->connected = rc == 0;
    p->client = (struct end){p, cfd, 0};
    p->server = (struct end){p, sfd, 0};
    p->up = (struct dir){.from = &p->client, .to = &p->server};
    p->down = (struct dir){.from = &p->server, .to = &p->client};
    /* The handshake the client did not wait for: its first bytes arrive when they would
       have after a real one (a round trip, then the one-way delay). */
    p->up.floor = now_ns() + 3 * delay_ns;
    p->client.events = wanted(p, &p->client);
    p->server.events = wanted(p, &p->server);
    add_end(&p->client);
    add_end(&p->server);
    p->next = pairs;
    if (pairs) pairs->prev = p;
    pairs = p;
  }
}

static void arm(int64_t when) {
  if (when == armed) return;
  struct itimerspec its = {0};
  if (when >= 0) {
    its.it_value.tv_sec = when / 1000000000;
    its.it_value.tv_nsec = when % 1000000000;
  }
  timerfd_settime(tfd, when >= 0 ? TFD_TIMER_ABSTIME : 0, &its, NULL);
  armed = when;
}

static int parse_addr(const char *addr, const char *port, struct sockaddr_in *sa) {
  char *end;
  long n = strtol(port, &end, 10);
  memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons((uint16_t)n);
  return *port && !*end && n > 0 && n < 65536 && inet_pton(AF_INET, addr, &sa->sin_addr) == 1;
}

int main(int argc, char **argv) {
  struct sockaddr_in listen_sa, target;
  char *end;
  long ms = argc == 7 ? strtol(argv[5], &end, 10) : -1;
  if (argc != 7 || !parse_addr(argv[1], argv[2], &listen_sa) ||
      !parse_addr(argv[3], argv[4], &target) || *end || ms < 0 || ms > 10000) {
    fprintf(stderr, "usage: %s LISTEN_ADDR PORT TARGET_ADDR TARGET_PORT DELAY_MS PIDFILE\n",
            argv[0]);
    return 2;
  }
  delay_ns = ms * 1000000;
  signal(SIGPIPE, SIG_IGN);
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }

  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  if (lfd < 0) die("socket");
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(lfd, (struct sockaddr *)&listen_sa, sizeof listen_sa) < 0) die("bind");
  if (listen(lfd, 1024) < 0) die("listen");
  if ((epfd = epoll_create1(EPOLL_CLOEXEC)) < 0) die("epoll_create1");
  if ((tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) < 0)
    die("timerfd_create");
  struct end lend = {NULL, lfd, EPOLLIN}, tend = {NULL, tfd, EPOLLIN};
  add_end(&lend);
  add_end(&tend);

  FILE *pf = fopen(argv[6], "w");
  if (!pf || fprintf(pf, "%ld\n", (long)getpid()) < 0 || fclose(pf) != 0) die(argv[6]);

  struct epoll_event evs[MAX_EVENTS];
  for (;;) {
    int n = epoll_wait(epfd, evs, MAX_EVENTS, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      die("epoll_wait");
    }
    int64_t now = now_ns();
    for (int i = 0; i < n; i++) {
      struct end *e = evs[i].data.ptr;
      uint32_t got = evs[i].events;
      if (e == &lend) {
        accept_all(lfd, &target);
        continue;
      }
      if (e == &tend) {
        uint64_t expirations;
        if (read(tfd, &expirations, sizeof expirations) < 0) { /* nothing due yet */ }
        armed = -1;
        continue;
      }
      struct pair *p = e->pair;
      if (p->dead) continue;
      struct dir *in = e == &p->client ? &p->up : &p->down;
      struct dir *out = e == &p->client ? &p->down : &p->up;
      if (e == &p->server && !p->connected) {
        if (!(got & (EPOLLOUT | EPOLLERR | EPOLLHUP))) continue;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(e->fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err) {
          kill_pair(p);
          continue;
        }
        p->connected = 1;
      }
      if (got & EPOLLERR) {
        kill_pair(p);
        continue;
      }
      if (got & (EPOLLIN | EPOLLHUP)) {
        /* A hang-up is read even when the queue is full, or it would be reported forever. */
        if (!in->eof_read) pull(p, in, now);
        else if ((got & EPOLLHUP) && !out->shut) kill_pair(p); /* reset by the peer */
      }
      if (!p->dead && (got & EPOLLOUT)) out->blocked = 0;
    }

    now = now_ns();
    int64_t next = -1;
    for (struct pair *p = pairs, *after; p; p = after) {
      after = p->next;
      int64_t a = flush(p, &p->up, now);
      int64_t b = p->dead ? -1 : flush(p, &p->down, now);
      if (p->dead) continue;
      if (p->up.shut && p->down.shut) {
        kill_pair(p);
        continue;
      }
      if (a >= 0 && (next < 0 || a < next)) next = a;
      if (b >= 0 && (next < 0 || b < next)) next = b;
      set_events(&p->client, wanted(p, &p->client));
      set_events(&p->server, wanted(p, &p->server));
    }
    arm(next);
    while (dead) {
      struct pair *p = dead;
      dead = p->next_dead;
      free(p);
    }
  }
}
