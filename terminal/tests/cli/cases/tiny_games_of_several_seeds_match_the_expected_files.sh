for seed in 1 2 3 4 5; do
    mkdir "seed$seed"
    cd "seed$seed"
    generate --profile tiny --seed "$seed"
    run "$tool" -y
    diff -r expected/sfx sfx
    diff -r expected/speech speech
    cd ..
done
