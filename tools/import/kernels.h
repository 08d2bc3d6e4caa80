// The kernels: how a tile's samples along one axis spread over the grid's cells, and tables of their weights.
#pragma once

#include <cstddef>
#include <vector>

enum class Resampling { automatic, average, bilinear, cubic, nearest };

// box: the area each sample covers; tent: linear interpolation; cubic: Keys' cubic convolution
// (a = -0.5), whose surface has no bends at the samples; nearest: the sample under a cell's centre.
enum class Kernel { box, tent, cubic, nearest };

// One axis of a tile, in the order of the ground: sample g covers grid coordinates a + b·g to
// a + b·(g+1), b being a sample's size in cells.
struct Axis {
    double a = 0, b = 1;
    Kernel kernel = Kernel::box;
};

// The kernel `r` stands for on an axis whose samples are `size` cells wide: automatic takes the
// area average for samples no wider than a cell, else interpolates with the cubic.
Kernel kernel_for(Resampling r, double size);

// A sample's, cell's or bucket's index from a rounded double, held within ±2^62 (NaN: 0):
// georeferencing from a file can put samples anywhere, and a conversion out of range is undefined.
long long clamped_index(double v);

// How far from a sample's centre, in cells, its weight reaches.
double reach(const Axis &ax);

// Sample g's weight in cell c.
double weight(const Axis &ax, long long g, long long c);

// The samples g of an n-sample axis whose weight can reach cells lo ... hi-1.
void reaching(const Axis &ax, int n, int lo, int hi, long long &g0, long long &g1);

// The cells lo ... hi-1 that samples g0 ... g0+n-1 reach: [c0, c1), empty when c0 >= c1.
void span_of(const Axis &ax, long long g0, int n, int lo, int hi, int &c0, int &c1);

// The weights of samples g0 ... g1-1 in cells c0 ... c1-1, by row of that band matrix: row i (a
// cell, or a sample) has weights w[at[i] ...] for the columns from[i] ... from[i]+count[i]-1 (as
// offsets from g0, or from c0), zero weights at both ends left out.
struct Taps {
    long long g0 = 0;
    int c0 = 0;
    std::vector<int> from, count;
    std::vector<size_t> at;
    std::vector<double> w;
};

// Per cell c0 ... c1-1: the samples g0 ... g1-1 that add to it.
void taps_by_cell(const Axis &ax, long long g0, long long g1, int c0, int c1, Taps &out);

// Per sample g0 ... g1-1: the cells c0 ... c1-1 it adds to.
void taps_by_sample(const Axis &ax, long long g0, long long g1, int c0, int c1, Taps &out);
