# Prints one table from the stage benchmarks (Google Benchmark JSON) and the
# Ruby-level timings: per instance, the whole Corvelanth.solve call through
# Ruby for the baseline and the fast solver (median times, and the median of
# the per-round ratios), then each stage's fast median time in microseconds
# with its ratio to the baseline's.
#
#   ruby bench/bench_table.rb STAGES.json RUBY.json
require "json"

stages_file, ruby_file = ARGV
abort "usage: #{$PROGRAM_NAME} STAGES.json RUBY.json" unless ruby_file

STAGES = [%w[distances distances], %w[construction construction], ["sweep1", "sweep 1"],
          %w[reinsertion reinsertion], ["sweep2", "sweep 2"], %w[report report], ["solve", "C++ solve"]].freeze

# Median wall time in microseconds per "stage/solver/instance".
medians = {}
JSON.parse(File.read(stages_file))["benchmarks"].each do |b|
  next unless b["aggregate_name"] == "median"

  scale = { "ns" => 1e-3, "us" => 1.0, "ms" => 1e3 }.fetch(b["time_unit"])
  medians[b["run_name"]] = b["real_time"] * scale
end
ruby_results = JSON.parse(File.read(ruby_file))
ruby = ruby_results["instances"]

def us(value) = value >= 100 ? format("%.0f", value) : format("%.1f", value)
def ratio(base, fast) = format("%.1f×", base / fast)

header = ["instance", "cities", "Ruby baseline µs", "Ruby fast µs", "Ruby ×"] +
         STAGES.map { |_, title| "#{title} µs (×)" }
rows = ruby.map do |r|
  name = r["instance"]
  cells = STAGES.map do |key, _|
    base = medians["#{key}/baseline/#{name}"]
    fast = medians["#{key}/fast/#{name}"]
    base && fast ? "#{us(fast)} (#{ratio(base, fast)})" : "-"
  end
  [name, r["cities"].to_s, us(r["baseline_us"]), us(r["fast_us"]), format("%.1f×", r["ratio"])] + cells
end

widths = header.each_index.map { |i| ([header] + rows).map { |row| row[i].length }.max }
line = ->(row) { "| " + row.each_with_index.map { |cell, i| cell.ljust(widths[i]) }.join(" | ") + " |" }
puts line.call(header)
puts "|" + widths.map { |w| "-" * (w + 2) }.join("|") + "|"
rows.each { |row| puts line.call(row) }

puts
big = ruby.select { |r| r["cities"] >= 199 }
unless big.empty?
  ratios = big.map { |r| r["ratio"] }.sort
  puts format("Through Ruby at 199-200 cities: %.1f× to %.1f× (median %.1f×) over %d instances.",
              ratios.first, ratios.last, ratios[ratios.size / 2], ratios.size)
end
small = ruby.select { |r| r["cities"] == 10 }
unless small.empty?
  ratios = small.map { |r| r["ratio"] }.sort
  puts format("Through Ruby at 10 cities: %.1f× to %.1f×.", ratios.first, ratios.last)
end
throughput = ruby_results["throughput"] || []
unless throughput.empty?
  one = throughput.first
  cells = throughput.map do |t|
    format("%d thread%s %.0f calls/s (%.2f× one thread)", t["threads"], t["threads"] == 1 ? "" : "s", t["fast_per_s"],
           t["fast_per_s"] / one["fast_per_s"])
  end
  puts "Throughput at 200 cities (uniform-200): #{cells.join(", ")}; the baseline: " +
       throughput.map { |t| format("%.0f", t["baseline_per_s"]) }.join(" and ") + " calls/s."
end
