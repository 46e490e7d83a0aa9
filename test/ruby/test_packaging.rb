# The gem as a user installs it, the development bundle, the documented API,
# the signature, and the route picture.
require_relative "test_helper"
require "fileutils"
require "json"
require "rexml/document"
require "tmpdir"

ROOT = File.expand_path("../..", __dir__)
require_relative "../../lib/corvelanth/svg"

class TestPackaging < Minitest::Test
  include CorvelanthTestHelpers

  def test_gem_builds_elsewhere_installs_offline_and_loads_both_ways
    Dir.mktmpdir do |dir|
      gem_file = File.join(dir, "corvelanth.gem")
      _, err, status = Open3.capture3("gem", "build", "-C", ROOT, "corvelanth.gemspec", "--output", gem_file, chdir: dir)
      assert status.success?, err
      # Read in a child: loading YAML here would give every class a yaml_tag method.
      script = "s = Gem::Package.new(ARGV[0]).spec; puts JSON.generate([s.metadata, s.homepage, s.files])"
      out, err, status = Open3.capture3(RbConfig.ruby, "-rrubygems/package", "-rjson", "-e", script, gem_file)
      assert status.success?, err
      metadata, homepage, files = JSON.parse(out)
      # No invented addresses: the project has no public home yet.
      assert_equal [{ "rubygems_mfa_required" => "true" }, nil], [metadata, homepage]
      assert_empty %w[.yardopts docs/api.md sig/corvelanth.rbs lib/corvelanth/native_docs.rb] - files

      home = File.join(dir, "home")
      env = { "GEM_HOME" => home, "GEM_PATH" => home, "RUBYOPT" => nil, "RUBYLIB" => nil }
      _, err, status = Open3.capture3(env, "gem", "install", "--local", "--document", "ri", gem_file)
      assert status.success?, err
      lib = Dir[File.join(home, "gems", "corvelanth-*", "lib")].first
      # Where file names ignore case, each name and its case variants are one file.
      File.link(File.join(lib, "corvelanth.rb"), File.join(lib, "Corvelanth.rb").tap { |f| File.delete(f) })
      File.link(File.join(lib, "corvelanth", "Corvelanth.so"), File.join(lib, "corvelanth", "corvelanth.so"))

      [%w[corvelanth], %w[Corvelanth], %w[Corvelanth corvelanth]].each do |features|
        out, err, status = Open3.capture3(env, RbConfig.ruby, "-w", "-e", <<~RUBY, chdir: dir)
          #{features.map { |f| "require #{f.inspect}" }.join("; ")}
          Point = Struct.new(:x, :y)
          pair = Object.new
          def pair.to_ary = [6, 8]
          p Corvelanth.plan(#{FIVE_CITIES.inspect}, #{FIVE_ROBOT.inspect}).to_h,
            Corvelanth.plan([[20_000, 0], [-20_000, 0]], [0, 0]).to_h,
            Corvelanth.plan([Point.new(3, 4), pair], Point.new(0, 0)).to_h,
            Corvelanth::TooManyCitiesError.ancestors.take(4), Corvelanth::MAX_CITIES,
            Corvelanth::VERSION == Gem.loaded_specs.fetch("corvelanth").version.to_s,
            Gem.loaded_specs.fetch("corvelanth").licenses
        RUBY
        assert status.success?, err
        assert_equal "", err, "no warnings, no diagnostics"
        assert_equal <<~TEXT, out
          {:order=>[5, 4, 2, 3, 0, 1], :travel=>41.542055463033535, :unplaced=>[]}
          {:order=>[2, 0], :travel=>20000.0, :unplaced=>[1]}
          {:order=>[2, 0, 1], :travel=>10.0, :unplaced=>[]}
          [Corvelanth::TooManyCitiesError, Corvelanth::Error, RuntimeError, StandardError]
          200
          true
          ["MIT"]
        TEXT
      end

      out, err, status = Open3.capture3(env, "ri", "--no-pager", "-f", "rdoc", "Corvelanth.solve", "Corvelanth.plan")
      assert status.success?, err
      %w[cities robot report: Corvelanth::Route Corvelanth::TooManyCitiesError].each { |word| assert_includes out, word }
    end
  end

  # Every library the Ruby tests load, and the rbs and yard they run, resolve
  # from the Gemfile with installed gems only, and the Rakefile loads under it.
  def test_development_bundle_resolves_offline
    Dir.mktmpdir do |dir|
      %w[Gemfile corvelanth.gemspec Rakefile lib/corvelanth/version.rb].each do |file|
        FileUtils.mkdir_p(File.dirname(File.join(dir, file)))
        FileUtils.cp(File.join(ROOT, file), File.join(dir, file))
      end
      env = { "BUNDLE_GEMFILE" => File.join(dir, "Gemfile"), "BUNDLE_APP_CONFIG" => File.join(dir, ".bundle"),
              "RUBYOPT" => nil, "RUBYLIB" => nil }
      out, status = Open3.capture2e(env, "bundle", "lock", "--local", chdir: dir)
      assert status.success?, out

      sources = Dir[File.join(ROOT, "test", "{ruby,fuzz}", "*.rb")].map { |f| File.read(f) }.join
      libraries = sources.scan(/^\s*require "([^"]+)"/).flatten.uniq.grep_v(/\Acorvelanth\b/i) + %w[rbs yard]
      out, status = Open3.capture2e(env, "bundle", "exec", RbConfig.ruby, "-e", "ARGV.each { |l| require l }; exit!(0)",
                                    *libraries, chdir: dir)
      assert status.success?, out
      out, status = Open3.capture2e(env, "bundle", "exec", "rake", "-T", chdir: dir)
      assert status.success?, out
      %w[build compile install test].each { |task| assert_match(/^rake #{task} /, out) }
    end
  end

  # Every public method and class the loaded gem defines, and every constant
  # of Corvelanth itself, is documented once for YARD.
  def test_yard_documents_the_public_api
    script = <<~'RUBY'
      require "json"
      require "yard"
      YARD::CLI::Yardoc.run("--no-output", "--no-save", "--no-stats", "--quiet")
      require "corvelanth"
      require "corvelanth/command"
      api = []
      walk = lambda do |mod|
        api << mod.name
        api.concat(mod.singleton_class.public_instance_methods(false).map { |m| "#{mod.name}.#{m}" })
        api.concat(mod.public_instance_methods(false).map { |m| "#{mod.name}##{m}" }) if mod.is_a?(Class)
        mod.constants.map { |c| mod.const_get(c) }.grep(Module).select { |m| m.name.start_with?("#{mod.name}::") }
           .each { |m| walk.call(m) }
      end
      walk.call(Corvelanth)
      api.concat((Corvelanth.constants - Corvelanth.constants.grep(->(c) { Corvelanth.const_get(c).is_a?(Module) }))
                   .map { |c| "Corvelanth::#{c}" })
      problems = api.uniq.filter_map do |path|
        object = YARD::Registry.at(path)
        next "#{path}: unknown to YARD" unless object
        next "#{path}: undocumented" if object.docstring.blank?

        files = object.files.map(&:first).uniq
        "#{path}: documented in #{files.join(" and ")}" if object.type == :method && files.size > 1
      end
      puts JSON.generate(api: api.size, problems: problems)
    RUBY
    out, err, status = Open3.capture3({ "RUBYOPT" => nil }, RbConfig.ruby, "-I", File.join(ROOT, "lib"), "-e", script,
                                      chdir: ROOT)
    assert status.success?, err
    result = JSON.parse(out.lines.last)
    assert_operator result["api"], :>, 20
    assert_empty result["problems"]
  end

  def test_signature_is_valid
    rbs = %w[rbs rbs3.1].map { |name| which(name) }.compact.first
    flunk "no rbs executable: the ruby package ships one" unless rbs

    out, err, status = Open3.capture3(rbs, "-I", "sig", "validate", chdir: ROOT)
    assert status.success?, out + err

    # What the documentation quotes of the signature is in it, line for line.
    signature = File.readlines(File.join(ROOT, "sig", "corvelanth.rbs"), chomp: true).map(&:strip)
    quoted = Dir[File.join(ROOT, "{README.md,docs/*.md}")].flat_map do |page|
      File.read(page).scan(/^```rbs\n(.*?)^```/m).flatten.flat_map { |block| block.lines.map(&:strip) }
    end
    refute_empty quoted
    assert_empty quoted.reject(&:empty?) - signature
  end

  def test_svg_example_draws_the_solved_route
    Dir.mktmpdir do |dir|
      csv = File.join(dir, "cities.csv")
      File.write(csv, "# x,y\n#{FIVE_CITIES.map { |x, y| "#{x},#{y}" }.join("\n")}\n")
      svg_path = File.join(dir, "route.svg")
      out, err, status = Open3.capture3(RbConfig.ruby, "-I", EXT_DIR, "-I", File.join(ROOT, "lib"),
                                        File.join(ROOT, "examples", "route_svg.rb"), csv, "2,14", "-o", svg_path)
      assert status.success?, err
      assert_includes out, "travel\t41.5421\n"

      doc = REXML::Document.new(File.read(svg_path))
      assert_equal [5, 4, 2, 3, 0, 1], route_nodes(doc)
      assert_includes REXML::XPath.first(doc, "//text[@class='title']").text, "5 stops · travel 41.5421"
    end
  end

  def test_svg_example_marks_unplaced_cities
    Dir.mktmpdir do |dir|
      csv = File.join(dir, "far.csv")
      File.write(csv, "20000,0\n-20000,0\n")
      svg_path = File.join(dir, "route.svg")
      _, err, status = Open3.capture3(RbConfig.ruby, "-I", EXT_DIR, "-I", File.join(ROOT, "lib"),
                                      File.join(ROOT, "examples", "route_svg.rb"), csv, "0,0", "-o", svg_path)
      assert status.success?, err
      doc = REXML::Document.new(File.read(svg_path))
      assert_equal ["1"], REXML::XPath.match(doc, "//circle[@class='unplaced']").map { |c| c["data-node"] }
    end
  end

  # Labels escaped, nil labels left out, finite placed points alone setting
  # the scale, the start and a given finish marked, every point shape read.
  def test_svg_escapes_labels_and_scales_from_finite_placed_points
    pair = Struct.new(:x, :y)
    xy = Object.new
    def xy.x = 40
    def xy.y = 30
    cities = [[0, 0], { x: 40, y: 0 }, pair.new(0, 30), [1e308, -1e308], [Float::NAN, 1], xy]
    route = Struct.new(:order, :travel, :unplaced).new([6, 0, 1, 5, 2, 7], 150.0, [3, 4])
    labels = ->(node) { node == 2 ? nil : %(<#{node}> & "q's") }
    svg = Corvelanth::SVG.draw(cities, { "x" => 10, "y" => 10 }, route, labels: labels, finish: [20, 20], improve: 300)
    doc = REXML::Document.new(svg)

    assert_equal [6, 0, 1, 5, 2, 7], route_nodes(doc)
    coordinates = REXML::XPath.match(doc, "//circle[@data-node] | //rect[@class='end']")
                              .flat_map { |e| %w[cx cy x y].filter_map { |a| e[a] } }
    assert coordinates.all? { |c| Float(c).finite? }, "every coordinate finite: #{coordinates}"
    width, height = REXML::XPath.first(doc, "/svg")["viewBox"].split.drop(2).map { |v| Float(v) }
    # 40 by 30 units of placed points (the far city sets nothing): the canvas takes their aspect.
    assert_in_delta 4.0 / 3, width / height, 0.2
    far = REXML::XPath.first(doc, "//circle[@data-node='3']")
    assert_equal "unplaced", far["class"]
    assert (0..width).cover?(Float(far["cx"])) && (0..height).cover?(Float(far["cy"])), "drawn at the edge"
    assert_nil REXML::XPath.first(doc, "//circle[@data-node='4']"), "no finite place, no dot"

    assert_equal [%w[start 6], %w[end 7]], REXML::XPath.match(doc, "//*[@class='start' or @class='end']")
                                                       .map { |e| [e["class"], e["data-node"]] }
    texts = REXML::XPath.match(doc, "//text[@class='label']").to_h { |t| [Integer(t["data-node"]), t.text] }
    refute_includes texts.keys, 2
    assert_equal %(<0> & "q's"), texts[0]
    assert_equal "4 stops · to the finish · travel 150.0000 · improved, 300 kicks · 2 unplaced (red)",
                 REXML::XPath.first(doc, "//text[@class='title']").text
  end

  private

  # The nodes the drawn route passes through, from the circles and the end
  # marker the route's path meets.
  def route_nodes(doc)
    nodes = {}
    REXML::XPath.each(doc, "//circle[@data-node]") { |c| nodes[[c["cx"], c["cy"]]] = Integer(c["data-node"]) }
    REXML::XPath.each(doc, "//rect[@class='end']") do |r|
      half = Float(r["width"]) / 2
      nodes[[format("%.2f", Float(r["x"]) + half), format("%.2f", Float(r["y"]) + half)]] = Integer(r["data-node"])
    end
    REXML::XPath.first(doc, "//path[@id='route']")["d"].scan(/[ML]([-\d.]+),([-\d.]+)/).map { |v| nodes.fetch(v) }
  end

  def which(name)
    ENV.fetch("PATH", "").split(File::PATH_SEPARATOR).map { |d| File.join(d, name) }.find { |f| File.executable?(f) }
  end
end
