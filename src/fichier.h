// Reading files safely, for the viewer's loader and the tools: a regular file opened without blocking, read fully.
#pragma once

#include <string>

// Opens `nom` for reading and gives its size. Returns the descriptor; -1 when it cannot be opened
// (`raison` "cannot open: <cause>"); -2 when it is not a regular file (`raison` says what it is,
// "a FIFO", "a directory", ...): a FIFO without a writer or a device is refused, never waited on.
int ouvre_fichier(const char *nom, long long &taille, std::string &raison);

// What a file of stat mode `mode` is when it is not a regular file, for messages: "a FIFO",
// "a directory", "a character device", ...
const char *genre_fichier(unsigned mode);

// Reads up to n bytes into dest, retrying interrupted reads; fewer only at the end of the file.
// Returns the bytes read, or -1 with errno set.
long long lit_plein(int fd, void *dest, long long n);
