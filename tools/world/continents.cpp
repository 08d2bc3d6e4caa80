// Stage A of the default world: every 16 cells over the whole map, the domain warp, the continents and the mountainness.
#include "world/worldgen_stages.h"

#include "world/noise.h"
#include "world/world_tunables.h"

namespace worldgen {

void stage_a_row(Lattice &la, int j, const Seeds &sd) {
    const int n = la.nx;
    ScratchRows r(n, 7);
    float *u = r[0], *v = r[1], *wx = r[2], *wy = r[3], *land = r[4], *mount = r[5], *tmp = r[6];
    for (int i = 0; i < n; ++i) {
        u[i] = static_cast<float>(la.i0 + i) * step_a, v[i] = static_cast<float>(la.j0 + j) * step_a;
        wx[i] = wy[i] = land[i] = mount[i] = 0;
    }
    fbm_row(u, v, n, warp_wavelength, 0, warp_octaves, sd.warp_x, step_a, wx, tmp);
    fbm_row(u, v, n, warp_wavelength, 0, warp_octaves, sd.warp_y, step_a, wy, tmp);
    for (int i = 0; i < n; ++i) u[i] += warp_amount * wx[i], v[i] += warp_amount * wy[i];
    fbm_row(u, v, n, continent_wavelength, 0, continent_octaves_a, sd.continent, step_a, land, tmp);
    fbm_row(u, v, n, mountain_mask_wavelength, 0, 3, sd.mask, step_a, mount, tmp);
    for (int i = 0; i < n; ++i) {
        float *a = la.at(i, j);
        a[A_QX] = u[i], a[A_QY] = v[i], a[A_LAND] = land[i];
        a[A_MOUNT] = smoothstep(-0.05f, 0.4f, mount[i]);
    }
}

}  // namespace worldgen
