# The corvelanth command on each waypoint format, and on bad files.
require_relative "test_helper"
require "json"
require "tmpdir"

class TestCommand < Minitest::Test
  ROOT = File.expand_path("../..", __dir__)
  FIVE_ROUTE_IN_FILE = [0, 5, 3, 4, 1, 2].freeze # the robot is the file's first point

  # Runs the command from the checkout's lib/ on files written into a fresh folder.
  def command(*args, files: {})
    Dir.mktmpdir do |dir|
      files.each { |name, text| File.write(File.join(dir, name), text) }
      Open3.capture3(RbConfig.ruby, "-I", File.join(ROOT, "lib"), File.join(ROOT, "exe", "corvelanth"), *args, chdir: dir)
    end
  end

  def test_each_input_format
    rows = [FIVE_ROBOT, *FIVE_CITIES]
    csv = "x,y\n#{rows.map { |x, y| "#{x},#{y}" }.join("\n")}\n"
    tsp = "NAME : five\nNODE_COORD_SECTION\n#{rows.each_with_index.map { |(x, y), i| "#{i + 1} #{x} #{y}" }.join("\n")}\nEOF\n"
    out, err, status = command("w.csv", files: { "w.csv" => csv })
    assert_equal [FIVE_ROUTE_IN_FILE.join("\n") + "\n", "", true], [out, err, status.success?]

    out, = command("--output", "json", "w.json", files: { "w.json" => JSON.generate(rows) })
    assert_equal({ "order" => FIVE_ROUTE_IN_FILE, "travel" => 41.542055463033535, "unplaced" => [] }, JSON.parse(out))

    out, = command("--output", "csv", "--format", "tsplib", "w.txt", files: { "w.txt" => tsp })
    assert_equal "index,x,y\n0,2.0,14.0\n5,0.0,20.0\n", out.lines.first(3).join

    out, = command("--robot", "2,14", "--improve", "--output", "json", "--svg", "r.svg", "w.json",
                   files: { "w.json" => JSON.generate(FIVE_CITIES) })
    assert_equal({ "order" => [4, 2, 3, 0, 1], "travel" => 41.542055463033535, "unplaced" => [], "robot" => [2.0, 14.0] },
                 JSON.parse(out))
  end

  def test_bad_files_name_the_line_and_exit_1
    {
      ["w.csv", "1,2\n3,4\n5,x\n"] => /\Acorvelanth: w\.csv:3: expected x,y, got "5,x"\n\z/,
      ["w.json", "[[1, 2], [3]]"] => /\Acorvelanth: w\.json: point 1: expected \[x, y\], got \[3\]\n\z/,
      ["w.json", "{"] => /\Acorvelanth: w\.json: not JSON/,
      ["w.tsp", "NODE_COORD_SECTION\n1 0 0\n2 a 1\n"] => /\Acorvelanth: w\.tsp:3: expected "id x y"/,
      ["w.tsp", "1 0 0\n"] => /no NODE_COORD_SECTION/,
      ["w.csv", Array.new(202) { |i| "#{i},0\n" }.join] => /202 points, but at most 200 cities/,
      ["w.dat", "1,2\n"] => /unknown extension; name the format with --format/,
    }.each do |(name, text), message|
      out, err, status = command(name, files: { name => text })
      assert_equal [1, ""], [status.exitstatus, out], name
      assert_match message, err
    end
    _, err, status = command("missing.csv")
    assert_equal 1, status.exitstatus
    assert_match(/No such file/, err)
  end

  def test_help_shows_an_example_for_each_format
    out, _, status = command("--help")
    assert status.success?
    %w[waypoints.csv waypoints.json NODE_COORD_SECTION --robot --improve --kicks --output --svg --format].each do |word|
      assert_includes out, word
    end
  end
end
