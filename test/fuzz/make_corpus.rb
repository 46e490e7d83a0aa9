# Writes the route fuzzer's seed corpus into test/fuzz/corpus/, in the input
# layout described at the top of route_fuzzer.cpp. Deterministic: running it
# again rewrites the same files.
#
#   ruby test/fuzz/make_corpus.rb
require "fileutils"

# Encodes coordinates and cities as the fuzzer decodes them.
module Encode
  module_function

  def grid(v) = [((v + 8) << 3) | 0]                  # -8..23, one byte
  def int8(v) = [1, v & 0xff]
  def int16(v) = [2, (v >> 8) & 0xff, v & 0xff]
  def special(index) = [(index << 3) | 3]             # see special_value()
  def raw(value) = [4] + [value].pack("E").bytes
  def point(x, y) = [0xff] + x + y                    # a city given by its coordinates
  def duplicate(of) = [0x00, of]
  def on_line(quarter_steps) = [0x20, quarter_steps & 0xff]
  def same_y(x) = [0x40] + x

  # Picks the encoding that holds an integer exactly.
  def int(v)
    return grid(v) if (-8..23).cover?(v)
    return int8(v) if (-128..127).cover?(v)

    int16(v)
  end

  def instance(robot, cities)
    [cities.size % 201] + robot + cities.flatten
  end
end

include Encode

NAN = 25
INFINITY = 23
MINUS_INFINITY = 24
CEILING = 5
BELOW_CEILING = 7
LARGEST = 17
SMALLEST = 15

rng = Random.new(2024)
seeds = {
  "empty" => instance(int(0) + int(0), []),
  "five_cities" => instance(int(2) + int(14),
                            [[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]].map { |x, y| point(int(x), int(y)) }),
  "crossing" => instance(int(20) + int(8),
                         [[17, 4], [19, 2], [17, 5], [17, 18]].map { |x, y| point(int(x), int(y)) }),
  "too_far_apart" => instance(int(0) + int(0), [point(int(20_000), int(0)), point(int(-20_000), int(0))]),
  "non_finite" => instance(int(0) + int(0),
                           [point(int(3), int(4)), point(special(NAN), int(1)), point(int(5), special(INFINITY)),
                            point(special(MINUS_INFINITY), special(NAN)), point(raw(1e300), raw(-1e300)),
                            point(int(6), int(1))]),
  "at_the_ceiling" => instance(int(0) + int(0),
                               [point(special(CEILING), int(0)), point(special(BELOW_CEILING), int(0)),
                                point(int(0), special(BELOW_CEILING)), point(special(LARGEST), special(SMALLEST))]),
  "duplicates_and_runs" => instance(int(1) + int(1),
                                    [point(int(0), int(0)), point(int(3), int(0)), on_line(4), on_line(-6),
                                     duplicate(1), same_y(int(9)), same_y(int(-2)), duplicate(0),
                                     point(int(0), int(7)), on_line(8), duplicate(4)]),
  "grid_200" => instance(int(3) + int(3), Array.new(200) { point(grid(rng.rand(8)), grid(rng.rand(8))) }),
  "scattered_200" => instance(int(0) + int(0),
                              Array.new(200) { point(int16(rng.rand(-5000..5000)), int16(rng.rand(-5000..5000))) }),
}

dir = File.join(__dir__, "corpus")
FileUtils.mkdir_p(dir)
seeds.each { |name, bytes| File.binwrite(File.join(dir, name), bytes.pack("C*")) }
puts "wrote #{seeds.size} seeds to #{dir}"
