// A one-line progress report on standard error, for work that takes more than a moment.
#pragma once

#include <string>

// What is left of work `fraction` done after `elapsed` seconds, as "about 1 min 20 s left"; empty
// while too little is done to tell (under 3 s or 2 %).
std::string time_left(double elapsed, double fraction);

class Progress {
public:
    // Shown only when standard error is a terminal, and only from a second after it starts; never
    // when `quiet`. Long work also says how long it has left.
    Progress(const char *what, long long total, bool quiet = false);
    void step(long long done);
    void done();

private:
    const char *what_;
    long long total_;
    int shown_ = -1;
    bool tty_;
    double start_;
};
