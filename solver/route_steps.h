// The pipeline's steps, for the pipeline and the tests that drive one step.
#ifndef CORVELANTH_ROUTE_STEPS_H
#define CORVELANTH_ROUTE_STEPS_H

#include "workspace.h"

namespace corvelanth {

// Fills the distance table for nodes 0..node_count-1 from their points.
void build_distances(const Point* points, int node_count, DistanceScratch& scratch, DistanceTable& distance);

// Moves route entries after pos one place up and puts pending[slot] at pos + 1.
void route_insert_after(RouteLists& lists, int pos, int slot);
// Drops route entry pos, moving the entries after it one place down.
void route_remove_at(RouteLists& lists, int pos);
// Appends a city to the pending list.
void pending_push(RouteLists& lists, int city);
// Removes pending slot `slot` by moving the last entry into the gap.
void pending_remove_at(RouteLists& lists, int slot);

// Starts the route at the robot (the last node) with the nearest city and
// puts every other city on the pending list in ascending order; false when
// no city is below the ceiling from the robot.
bool seed_route(const DistanceTable& distance, int node_count, RouteLists& lists);

// Inserts the cheapest pending city at its cheapest position until nothing
// is pending or nothing can be placed below the ceiling; false in the second
// case, which includes a call with nothing pending.
bool insert_all(const DistanceTable& distance, RouteLists& lists, InsertionScratch& scratch);
// Takes out the city at each interior route position once and puts it back
// at its cheapest place, the position advancing whatever place that was;
// returns how many of its insertion loops ended with nothing placeable.
int reinsert_interior(const DistanceTable& distance, RouteLists& lists, InsertionScratch& scratch);

// Starts a route for a finish or given costs: the robot (node city_count),
// the nearest city, and the finish (node city_count + 1) when there is one;
// every other city pending in ascending order. No ceiling: with no distance
// that is a number, the first city is taken.
void seed_between(const DistanceTable& distance, int city_count, bool has_finish, RouteLists& lists);
// Cheapest insertion of every pending city, as insert_all chooses but with no
// ceiling and nothing after a finish; a city whose costs are all NaN goes last.
void insert_all_between(const DistanceTable& distance, bool has_finish, RouteLists& lists, InsertionScratch& scratch);
// The reinsertion pass of reinsert_interior under the rules of insert_all_between.
void reinsert_between(const DistanceTable& distance, bool has_finish, RouteLists& lists, InsertionScratch& scratch);

// Sweeps once over route positions 0..route_len-1, reversing the span between
// each pair of properly crossing edges.
void uncross_route(const Point* points, int* route, int route_len, SweepScratch& scratch);

}  // namespace corvelanth

#endif
