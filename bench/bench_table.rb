# Prints one table from the stage benchmarks (Google Benchmark JSON) and the
# Ruby-level timings, one file per instruction-set path: per instance, the
# whole Corvelanth.solve call through Ruby for the baseline and, per path, the
# fast solver (median time and the median of the per-round ratios), then each
# stage's fast median time in microseconds with its ratio to the baseline's
# and, at 199-200 cities, the stage's estimated floor.
#
#   ruby bench/bench_table.rb STAGES.json PATH=RUBY.json...
require "json"

stages_file, *ruby_args = ARGV
abort "usage: #{$PROGRAM_NAME} STAGES.json PATH=RUBY.json..." if ruby_args.empty?

STAGES = [%w[distances distances], %w[construction construction], ["sweep1", "sweep 1"],
          %w[reinsertion reinsertion], ["sweep2", "sweep 2"], %w[report report], ["solve", "C++ solve"]].freeze
# Estimated floors at 200 cities, in microseconds, for this kind of machine.
FLOORS = { "distances" => "17", "construction" => "25–35", "sweep1" => "4–5", "reinsertion" => "12–15",
           "sweep2" => "4–5", "report" => "3" }.freeze

# Median wall time in microseconds per "stage/solver/instance".
medians = {}
JSON.parse(File.read(stages_file))["benchmarks"].each do |b|
  next unless b["aggregate_name"] == "median"

  scale = { "ns" => 1e-3, "us" => 1.0, "ms" => 1e3 }.fetch(b["time_unit"])
  medians[b["run_name"].sub(%r{/manual_time\z}, "")] = b["real_time"] * scale
end
runs = ruby_args.map do |arg|
  path, file = arg.split("=", 2)
  [path, JSON.parse(File.read(file))]
end
paths = runs.map(&:first)
by_path = runs.to_h { |path, data| [path, data["instances"].to_h { |r| [r["instance"], r] }] }
ruby = runs.last[1]["instances"]

def us(value) = value >= 100 ? format("%.0f", value) : format("%.1f", value)
def ratio(base, fast) = format("%.1f×", base / fast)

header = ["instance", "cities", "Ruby baseline µs"] + paths.flat_map { |p| ["Ruby #{p} µs", "Ruby #{p} ×"] } +
         STAGES.flat_map { |key, title| FLOORS[key] ? ["#{title} µs (×)", "floor"] : ["#{title} µs (×)"] }
rows = ruby.map do |r|
  name = r["instance"]
  cells = STAGES.flat_map do |key, _|
    base = medians["#{key}/baseline/#{name}"]
    fast = medians["#{key}/fast/#{name}"]
    cell = base && fast ? "#{us(fast)} (#{ratio(base, fast)})" : "-"
    next [cell] unless FLOORS[key]

    [cell, r["cities"] >= 199 ? FLOORS[key] : "-"]
  end
  per_path = paths.flat_map do |p|
    row = by_path[p][name]
    row ? [us(row["fast_us"]), format("%.1f×", row["ratio"])] : ["-", "-"]
  end
  [name, r["cities"].to_s, us(r["baseline_us"])] + per_path + cells
end

widths = header.each_index.map { |i| ([header] + rows).map { |row| row[i].length }.max }
line = ->(row) { "| " + row.each_with_index.map { |cell, i| cell.ljust(widths[i]) }.join(" | ") + " |" }
puts line.call(header)
puts "|" + widths.map { |w| "-" * (w + 2) }.join("|") + "|"
rows.each { |row| puts line.call(row) }

puts
runs.each do |path, data|
  big = data["instances"].select { |r| r["cities"] >= 199 }
  unless big.empty?
    ratios = big.map { |r| r["ratio"] }.sort
    puts format("Through Ruby at 199-200 cities on %s: %.1f× to %.1f× (median %.1f×) over %d instances.", path,
                ratios.first, ratios.last, ratios[ratios.size / 2], ratios.size)
  end
  small = data["instances"].select { |r| r["cities"] == 10 }
  unless small.empty?
    ratios = small.map { |r| r["ratio"] }.sort
    puts format("Through Ruby at 10 cities on %s: %.1f× to %.1f×.", path, ratios.first, ratios.last)
  end
end
throughput = runs.map { |_, data| data["throughput"] }.compact.reject(&:empty?).last || []
unless throughput.empty?
  one = throughput.first
  cells = throughput.map do |t|
    format("%d thread%s %.0f calls/s (%.2f× one thread)", t["threads"], t["threads"] == 1 ? "" : "s", t["fast_per_s"],
           t["fast_per_s"] / one["fast_per_s"])
  end
  puts "Throughput at 200 cities (uniform-200, #{paths.last}): #{cells.join(", ")}; the baseline: " +
       throughput.map { |t| format("%.0f", t["baseline_per_s"]) }.join(" and ") + " calls/s."
end
