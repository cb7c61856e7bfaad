#pragma once
// The scan manager's fixed waits, in one place so that tests can shorten them.
// The program always uses the defaults.

struct ScanTimings {
    int throttleMs = 200;           // while MaxThread + 1 workers run
    int drainFirstMs = 5000;        // after the last address was dispatched
    int drainStepMs = 2000;         // then, until no worker runs
    int finishStepMs = 1000;        // in Finish, until no worker runs
    int workerFailurePauseMs = 2000; // before telling that a worker could not start
};

extern ScanTimings g_scanTimings;
