// A worker pool kept by a static object, as a server's own shared library
// keeps one: its destructor, run while the process exits, stops the worker
// and joins it. The pool holds no copy of SafeStdLib; the task is the host's.
#ifndef WorkerPool_H
#define WorkerPool_H

// Starts the worker, which runs task(0), task(1), ... until the pool's
// destructor tells it to stop, and then once more: so the task always runs
// while the destructor waits for the worker.
__attribute__((visibility("default"))) void PoolStart(void (*task)(int round));

#endif  // WorkerPool_H
