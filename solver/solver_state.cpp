// Process-wide solver tables and the distance table.
#include <cmath>

#include "route_solver.h"

namespace corvelanth {

Point point_table[TABLE_SLOTS];
Point robot_position;
double distance_table[TABLE_SLOTS][TABLE_SLOTS];
int route_list[TABLE_SLOTS];
int pending_list[TABLE_SLOTS];

int build_distances(int count) {
    point_table[count] = robot_position;
    const int n = count + 1;
    for (int i = 0; i < n - 1; ++i) {
        for (int j = i; j < n; ++j) {
            if (i == j) {
                distance_table[i][i] = 0.0;
                continue;
            }
            const double dx = point_table[i].x - point_table[j].x;
            const double dy = point_table[i].y - point_table[j].y;
            const double d = std::sqrt(dx * dx + dy * dy);
            distance_table[i][j] = d;
            distance_table[j][i] = d;
        }
    }
    return n;
}

}  // namespace corvelanth
