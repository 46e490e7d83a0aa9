# frozen_string_literal: true

# How long a long search takes to stop: a 200-city plan(improve: 10_000_000)
# under Timeout.timeout(LIMIT), and killed from another thread after LIMIT,
# ROUNDS times each; prints the overshoot past LIMIT in milliseconds.
#
#   ruby -I lib bench/stop_latency.rb [ROUNDS] [LIMIT]
require "corvelanth"
require "timeout"

rounds = Integer(ARGV.fetch(0, "20"))
limit = Float(ARGV.fetch(1, "0.2"))
rng = Random.new(1)
cities = Array.new(200) { [rng.rand * 1000, rng.rand * 1000] }

# Seconds since an arbitrary start.
def now = Process.clock_gettime(Process::CLOCK_MONOTONIC)

# Overshoots in ms of each way of stopping, sorted.
overshoot = { "Timeout.timeout" => [], "Thread#kill" => [] }
rounds.times do
  started = now
  begin
    Timeout.timeout(limit) { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) }
  rescue Timeout::Error
    overshoot["Timeout.timeout"] << (now - started - limit) * 1000
  end
  worker = Thread.new { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) }
  sleep limit
  killed = now
  worker.kill.join
  overshoot["Thread#kill"] << (now - killed) * 1000
end
overshoot.each do |way, ms|
  ms.sort!
  printf("%-16s median %.2f ms, worst %.2f ms over %d stops\n", way, ms[ms.size / 2], ms.last, ms.size)
end
