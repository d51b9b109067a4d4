#pragma once
// The texts that say how a survey ended: the end boxes' added lines and the status bar's note.

#include <QString>

#include <cstdint>

struct TSurveyEnd
{
    std::uint64_t done = 0; // addresses queried (scan) or with a row (sweep)
    std::uint64_t total = 0; // addresses of the range
    bool stopped = false;
    std::uint64_t unqueried = 0; // addresses whose query could not be sent
};

// "Stopped after N of M addresses."
QString stopped_line(const TSurveyEnd& end);
// "Scanning finished.\rComputers founded: %d", then a line for a stop and one for addresses that
// could not be queried.
QString scan_end_text(int found, const TSurveyEnd& end);
// "Ping finished.", then a line for a stop.
QString ping_end_text(const TSurveyEnd& end);
// "Errors", or "Errors (N)" once the page holds lines.
QString errors_tab_title(std::uint64_t lines);
