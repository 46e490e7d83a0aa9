# frozen_string_literal: true

# Route quality and time through Ruby in every mode, on the training
# instances with best-known lengths: open, round trip, fixed finish,
# Manhattan costs, and costs equal to the straight-line distances.
#
#   ruby -I lib bench/modes.rb [DATA_DIR] [true | thorough | KICKS]
require "json"
require "corvelanth"

dir = ARGV.fetch(0, File.expand_path("../../shared/data/training", __dir__))
best = JSON.parse(File.read("#{dir}/best_known.json"))
kicks = { nil => true, "true" => true, "thorough" => :thorough }.fetch(ARGV[1]) { Integer(ARGV[1]) }
res = Hash.new { |h, k| h[k] = [] }
times = Hash.new { |h, k| h[k] = [] }
Dir["#{dir}/*.json"].sort.each do |f|
  next if f.end_with?("best_known.json")
  inst = JSON.parse(File.read(f))
  name = inst["name"]; c = inst["cities"]; r = inst["robot"]
  bk = best[name]
  n = c.size
  nodes = c + [r]
  man = nodes.map { |a| nodes.map { |b| (a[0] - b[0]).abs + (a[1] - b[1]).abs } }
  { "open" => {}, "round_trip" => { finish: r }, "fixed_finish" => { finish: bk["fixed_finish"]["finish"] },
    "manhattan" => { costs: man }, "open_costs" => { costs: nodes.map { |a| nodes.map { |b| Math.sqrt((a[0] - b[0])**2 + (a[1] - b[1])**2) } } } }.each do |mode, kw|
    t = Process.clock_gettime(Process::CLOCK_MONOTONIC)
    route = Corvelanth.plan(c, r, improve: kicks, **kw)
    dt = Process.clock_gettime(Process::CLOCK_MONOTONIC) - t
    bl = bk[mode == "open_costs" ? "open" : mode]["length"]; gap = (route.travel - bl) / bl * 100
    res[mode] << [gap, n, name]
    times[mode] << dt * 1000 if n == 200
  end
end
res.each do |mode, gs|
  g = gs.map(&:first)
  g200 = gs.select { _2 == 200 }.map(&:first)
  w = gs.max_by(&:first)
  printf("%-13s mean %.3f%%  at200 %.3f%%  worst %.3f%% (%s)  ms@200 %.1f\n", mode, g.sum / g.size, g200.sum / g200.size, w[0], w[2], times[mode].sum / times[mode].size)
end
