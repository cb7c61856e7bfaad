#pragma once
// The first step of every scan, whichever engine runs it: the adapter is
// chosen and reported to the sink; when none can be reset the sink gets two
// notices for the user and the run log says so.

class ScanProbes;
class ScanSink;

// True with `lana` set when an adapter was reset.
bool ChooseScanAdapter(ScanProbes& probes, ScanSink& sink, int& lana);
