/* The floors' shared loop: the least a program can do to hold a key for a
 * given time. Each key change is sent at an absolute CLOCK_MONOTONIC
 * deadline, and the moment the sending call returned is printed on stderr
 * in the program's own trace format, so one reader serves both:
 *   trace 12345.678 key-down 32
 */
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static inline long long floor_now_ns(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

static inline void floor_sleep_until(long long deadline_ns) {
  const struct timespec until = {(time_t)(deadline_ns / 1000000000LL),
                                 (long)(deadline_ns % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
  }
}

static inline void floor_trace(const char* event, long long ns) {
  fprintf(stderr, "trace %.3f %s 32\n", (double)ns / 1e6, event);
}

/* `holds` holds of 2 × interval_ms, each after a pause of gap_ms; `send`
 * presses (1) or releases (0) the key and returns once the call is done,
 * or non-zero on failure. */
static inline int floor_run(int argc, char** argv, int (*send)(void* context, int down),
                            void* context) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s HOLDS INTERVAL_MS GAP_MS\n", argv[0]);
    return 2;
  }
  const long holds = strtol(argv[1], NULL, 10);
  const long long hold_ns = 2LL * strtol(argv[2], NULL, 10) * 1000000LL;
  const long long gap_ns = strtol(argv[3], NULL, 10) * 1000000LL;
  long long next = floor_now_ns() + gap_ns;
  for (long i = 0; i < holds; ++i) {
    floor_sleep_until(next);
    if (send(context, 1) != 0) return 1;
    const long long down = floor_now_ns();
    floor_sleep_until(down + hold_ns);
    if (send(context, 0) != 0) return 1;
    const long long up = floor_now_ns();
    floor_trace("key-down", down);
    floor_trace("key-up", up);
    next = up + gap_ns;
  }
  return 0;
}
