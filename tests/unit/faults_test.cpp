// Loading when the file misbehaves under the reader: it shrinks mid-read, or a read fails.
// This binary is linked with --wrap=read, so the loader's reads pass through __wrap_read below.
#include "terrain.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" ssize_t __real_read(int fd, void *buf, size_t n);

namespace {

enum class panne { aucune, retrecit, eio, eintr };
panne mode = panne::aucune;
std::string chemin;       // the file being loaded
long long apres = 0;      // bytes delivered before the fault strikes
long long longueur = 0;   // what a shrinking file is cut to
long long livres = 0;
bool interrompu = false;

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void *buf, size_t n) {
    if (mode != panne::aucune && livres >= apres) {
        switch (mode) {
        case panne::retrecit:
            if (truncate(chemin.c_str(), longueur) != 0) return -1;
            mode = panne::aucune;  // from here on the file really is shorter
            break;
        case panne::eio: errno = EIO; return -1;
        case panne::eintr:
            if (!interrompu) {
                interrompu = true;
                errno = EINTR;
                return -1;
            }
            break;
        case panne::aucune: break;
        }
    }
    ssize_t k = __real_read(fd, buf, n);
    if (k > 0) livres += k;
    return k;
}

namespace {

class Panne : public Scratch {
protected:
    void SetUp() override {
        Scratch::SetUp();
        chemin = dir + "/datas.mvx";
        std::vector<char> b(static_cast<size_t>(taille_grille));
        for (long long o = 0; o < taille_grille; ++o) b[o] = static_cast<char>(o % 251 + 1);
        std::ofstream(chemin, std::ios::binary).write(b.data(), taille_grille);
        std::memset(data3d, 0xAA, taille_grille);
        livres = 0, interrompu = false;
    }
    void TearDown() override {
        mode = panne::aucune;
        Scratch::TearDown();
    }
    // The grid holds the file's first n bytes and zeros after them.
    static bool prefixe(long long n) {
        for (long long o = 0; o < taille_grille; ++o)
            if (data3d[o] != (o < n ? o % 251 + 1 : 0)) return false;
        return true;
    }
};

TEST_F(Panne, FileShrinkingMidReadLoadsWhatWasThereAndWarns) {
    // After 1000 rows the file is cut 777 bytes into the next row.
    mode = panne::retrecit, apres = 1000 * octets_ligne, longueur = apres + 777;
    const charge r = charge_terrain(chemin.c_str());
    EXPECT_EQ(r.etat, charge_court);
    EXPECT_EQ(r.lus, longueur);
    EXPECT_TRUE(prefixe(longueur));
    EXPECT_NE(r.raison.find(std::to_string(longueur) + " of 75497472"), std::string::npos) << r.raison;
}

TEST_F(Panne, ReadErrorFailsNamingTheCause) {
    mode = panne::eio, apres = 5 * octets_ligne;
    const charge r = charge_terrain(chemin.c_str());
    EXPECT_EQ(r.etat, charge_echec);
    EXPECT_NE(r.raison.find(chemin), std::string::npos) << r.raison;
    EXPECT_NE(r.raison.find("Input/output error"), std::string::npos) << r.raison;
}

TEST_F(Panne, InterruptedReadIsRetried) {
    mode = panne::eintr, apres = 3 * octets_ligne + 10;
    const charge r = charge_terrain(chemin.c_str());
    EXPECT_EQ(r.etat, charge_ok);
    EXPECT_TRUE(interrompu);
    EXPECT_TRUE(prefixe(taille_grille));
}

}  // namespace
