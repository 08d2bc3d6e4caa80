// A one-line progress report on standard error, for work that takes more than a moment.
#pragma once

class Progress {
public:
    // Shown only when standard error is a terminal, and only from a second after it starts; never when `quiet`.
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
